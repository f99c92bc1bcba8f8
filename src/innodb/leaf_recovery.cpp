// Reading a clustered index whose leaf chain is broken. The leaves of one index are the
// index pages (FIL page type 17855, or 18 for an instant-ALTER root) whose index header
// names the index id (offset 66, 8 bytes) and level 0 (offset 64). When a damaged page
// breaks the chain, every page of the tablespace is verified (checksum, LSN, page number)
// and the intact leaves of the index are read in the order of their first keys. Old
// copies of pages a B-tree merge freed still carry the index id: the space map marks them
// free (the extent descriptors of the FSP header page and of every XDES page: entries of
// 40 bytes from offset 150, state at +20, then two bits per page of which the first is
// set for a free page), and a key met twice is taken once. The node pointers of the
// surviving non-leaf pages name each child's first key, which gives the key range of a
// leaf that could not be read; the leaf chain's neighbours give it where no parent
// survives. Format notes: docs/formats/innodb.md.
#include "innodb/leaf_recovery.h"

#include "innodb/column_layout.h"
#include "innodb/dictionary.h"
#include "innodb/field_decoder.h"
#include "innodb/instant_layout.h"
#include "innodb/page.h"
#include "innodb/page_check.h"
#include "innodb/record.h"

#include <algorithm>
#include <bitset>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace dunmore::innodb {
namespace {

constexpr std::size_t kXdesArrayOffset = 150;
constexpr std::size_t kXdesStateOffset = 20;
constexpr std::size_t kXdesBitmapOffset = 24;
constexpr std::uint32_t kXdesStateFree = 1;
constexpr std::uint16_t kPageTypeFspHeader = 8;
constexpr std::uint16_t kPageTypeXdes = 9;
constexpr std::uint16_t kPageTypeAllocated = 0;
// FIL page types of pages that are not B-tree pages (undo log, inode, insert-buffer
// bitmap and free list, system, transaction system, FSP header, XDES, BLOB chains,
// compressed BLOB chains).
constexpr std::uint16_t kOtherPageTypes[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
constexpr std::uint32_t kStopCheckInterval = 256;

enum class Kind : std::uint8_t {
    Other,       // verified, not a compact index page
    Index,       // verified compact index page
    OtherFormat, // verified index page in another record format
    Zero,
    Damaged,
};

struct ScanInfo {
    std::uint64_t indexId = 0;
    std::uint32_t prev = kFilNull;
    std::uint32_t next = kFilNull;
    std::uint16_t level = 0;
    std::uint16_t pageType = 0;
    Kind kind = Kind::Other;
};

struct Pointer {
    ClusterKey key;
    bool leftmost = false;  // the minimum-record node pointer: no lower bound
    std::optional<ClusterKey> nextKey;
};

struct LeafKeys {
    std::optional<ClusterKey> first, last;
};

std::string joinedKey(const ClusterKey& key) {
    std::string s;
    for (const auto& f : key.fields) {
        const auto n = static_cast<std::uint32_t>(f.size());
        s.push_back(static_cast<char>(n >> 8));
        s.push_back(static_cast<char>(n));
        s += f;
    }
    return s;
}

bool isTrxId(const core::InnodbColumn& f) {
    return f.mainType == kMainSys && f.preciseType == kPreciseTrxId;
}

// The key fields of the layout (those before DB_TRX_ID); empty for the hidden row id.
std::vector<const core::InnodbColumn*> keyFields(const InnodbReader& ctx) {
    std::vector<const core::InnodbColumn*> out;
    const auto& fields = ctx.clusteredFields;
    const auto trx = std::find_if(fields.begin(), fields.end(), isTrxId);
    if (trx == fields.end()) return out;
    for (auto f = fields.begin(); f != trx; ++f) out.push_back(&*f);
    if (out.size() == 1 && out.front()->hidden) out.clear();
    return out;
}

std::string keyNamesOf(const InnodbReader& ctx) {
    const auto fields = keyFields(ctx);
    if (fields.empty()) return "DB_ROW_ID";
    if (fields.size() == 1) return fields.front()->column.name;
    std::string s = "(";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) s += ", ";
        s += fields[i]->column.name;
    }
    return s + ")";
}

std::string keyText(InnodbReader& ctx, core::AppSettings& settings, const ClusterKey& key) {
    const auto fields = keyFields(ctx);
    if (fields.empty() || fields.size() != key.fields.size()) {
        std::uint64_t v = 0;
        for (const char c : key.fields.empty() ? std::string() : key.fields.front())
            v = (v << 8) | static_cast<std::uint8_t>(c);
        return std::to_string(v);
    }
    std::string s = fields.size() > 1 ? "(" : "";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) s += ", ";
        const auto& bytes = key.fields[i];
        s += decodeInnodbField(ctx, settings,
                               core::ByteSpan(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                              bytes.size()),
                               *fields[i], false);
    }
    if (fields.size() > 1) s += ")";
    return s;
}

// The records of a compact leaf page as walkLeafChain takes them. Returns how many
// records the page header counts beyond those the chain reached.
template <typename Fn>
std::uint32_t forEachRecord(core::ByteSpan view, std::uint32_t page, bool ownFile, Fn&& fn) {
    const auto pageSize = static_cast<std::uint32_t>(view.size());
    std::bitset<kMaxPageSize> visited;
    std::uint32_t u = firstCompactRecord(view);
    const std::uint32_t stored = decodeIndexHeader(view).recordCount;
    if (u >= compactStartLimit(pageSize) || isCompactSupremum(view, u)) return stored;
    bool backwardSeen = false;
    std::uint32_t taken = 0;
    while (u > kCompactSupremum && u < pageSize && taken < maxRecordsPerPage(pageSize)) {
        if (visited.test(u)) break;
        visited.set(u);
        const auto header = compactHeader(view, u);
        if (!header) break;
        const Successor next =
            nextRecordOffset(u, header->successor, ownFile && backwardSeen, pageSize);
        if (ownFile && next.backward) backwardSeen = true;
        ++taken;
        if (!(header->infoBits & kInfoMinRecord)) {
            if (!fn(LeafRecord{page, u, next.fieldAreaLength, next.offset}, header->deleted()))
                return 0;
        }
        if (next.endsChain()) break;
        u = next.offset;
    }
    return taken < stored ? stored - taken : 0;
}

class Salvage {
public:
    Salvage(InnodbReader& ctx, core::AppSettings& settings, const ClusteredWalkOptions& o,
            const std::function<bool(core::ByteSpan, const LeafRecord&)>& onRecord,
            LeafWalkCounts& counts, LeafDamage& damage)
        : m_ctx(ctx), m_settings(settings), m_options(o), m_onRecord(onRecord), m_counts(counts),
          m_damage(damage), m_file(slotFile(ctx, o.walk.slot)),
          m_pages(slotPageCount(ctx, o.walk.slot)),
          m_ownFile(o.walk.slot == TablespaceSlot::TablespaceFile),
          m_format(slotFormat(ctx, o.walk.slot)), m_pageSize(ctx.pageSize()),
          m_buffer(m_pageSize),
          m_view(m_buffer.data(), m_buffer.size()) {}

    core::Status run() {
        if (auto st = scan(); !st) return st;
        if (m_stopped) return core::Status::ok();
        chooseIndex();
        if (m_indexId == 0) {
            m_damage.indexMissing = true;
            addUncertainPages({});
            return core::Status::ok();
        }
        if (auto st = instantLayout(); !st || !m_damage.layoutProblem.empty()) return st;
        if (auto st = readNodePointers(); !st) return st;
        if (auto st = readChainKeys(); !st) return st;
        if (auto st = emitCandidates(); !st) return st;
        if (m_stopped || m_ended) return core::Status::ok();
        bool anyPage = false;
        for (std::uint32_t p = 0; p < m_info.size() && !anyPage; ++p) anyPage = ours(p);
        // Not one page of the index is left (the file cut before its root, say).
        if (!anyPage) m_damage.indexMissing = true;
        nameLostPages();
        return core::Status::ok();
    }
    bool ended() const { return m_ended; }

private:
    // Reads page p as the server works on it; its verification is kept in m_check.
    core::Status readAt(std::uint32_t p) {
        auto read = readTablespacePage(m_file, m_format, p, PageBuffer(m_buffer));
        if (!read) return read.status();
        m_check = std::move(*read);
        return core::Status::ok();
    }
    bool stopRequested() {
        if (m_options.walk.beforePage && !m_options.walk.beforePage(m_counts.pagesVisited))
            m_stopped = true;
        return m_stopped;
    }

    core::Status scan() {
        m_info.resize(static_cast<std::size_t>(m_pages));
        for (std::uint64_t p = 0; p < m_pages; ++p) {
            if (p % kStopCheckInterval == 0 && stopRequested()) return core::Status::ok();
            const auto page = static_cast<std::uint32_t>(p);
            if (auto st = readAt(page); !st) return st;
            ++m_damage.pagesScanned;
            ScanInfo& info = m_info[page];
            const FilHeader fil = decodeFilHeader(m_view);
            const IndexPageHeader index = decodeIndexHeader(m_view);
            info.pageType = fil.pageType;
            info.prev = fil.prevPage;
            info.next = fil.nextPage;
            info.indexId = index.indexId;
            info.level = index.level;
            const PageCheck check = m_check;
            // The doublewrite buffer of ibdata1 keeps intact copies of other pages.
            if (!check.valid() && check.state == PageState::Damaged && fil.pageNumber != page &&
                !m_format.transforms() && checkPage(m_view, fil.pageNumber).valid()) {
                info.kind = Kind::Other;
                continue;
            }
            if (check.state == PageState::AllZero) {
                info.kind = Kind::Zero;
            } else if (!check.valid()) {
                info.kind = Kind::Damaged;
                m_problems[page] = check.problem;
                ++m_damage.damagedPages;
            } else if (!isIndexPageType(fil.pageType)) {
                info.kind = Kind::Other;
            } else {
                info.kind = isCompactIndexPage(m_view) ? Kind::Index : Kind::OtherFormat;
            }
        }
        return core::Status::ok();
    }

    // A table that went through instant ALTER TABLE keeps a metadata record at the start
    // of its leftmost leaf; without the layout it and the root give (the descent did not
    // reach that leaf), its records would decode to guessed values. With the root intact
    // the layout is read from the two; without it the rows are not read.
    core::Status instantLayout() {
        if (m_ctx.instantCoreFields != 0) return core::Status::ok();
        for (std::uint32_t p = 0; p < m_info.size(); ++p) {
            if (!ourLeaf(p) || m_info[p].kind != Kind::Index || m_info[p].prev != kFilNull) continue;
            if (auto st = readAt(p); !st) return st;
            const auto chain = compactChain(m_view, 0, false);
            if (chain.empty()) continue;
            const auto header = compactHeader(m_view, chain.front().origin);
            if (!header || !isMetadataRecord(*header, true)) continue;
            const std::uint32_t root = m_options.rootPage;
            if (root == 0 || !ours(root) || m_info[root].kind != Kind::Index) {
                m_damage.layoutProblem =
                    "the table went through instant ALTER TABLE, and its root page, which says how "
                    "its records are laid out, is lost";
                return core::Status::ok();
            }
            const core::Status st = loadInstantLayout(m_ctx, m_file, root, p);
            if (st.code() == core::StatusCode::IoError) return st;
            if (!st) m_damage.layoutProblem = st.message();
            return core::Status::ok();
        }
        // No metadata record left, but a root that says there was one.
        const std::uint32_t root = m_options.rootPage;
        if (root != 0 && ours(root) && m_info[root].kind == Kind::Index) {
            if (auto st = readAt(root); !st) return st;
            const auto instant = readInstantRoot(m_view);
            if (instant && instant->instant &&
                (instant->alter || instant->coreFields < m_ctx.clusteredFields.size()))
                m_damage.layoutProblem =
                    "the table went through instant ALTER TABLE, and the first leaf page, whose "
                    "metadata record says how its records are laid out, is lost";
        }
        return core::Status::ok();
    }

    bool ours(std::uint32_t p) const {
        return p < m_info.size() && (m_info[p].kind == Kind::Index || m_info[p].kind == Kind::OtherFormat) &&
               m_info[p].indexId == m_indexId;
    }
    bool ourLeaf(std::uint32_t p) const { return ours(p) && m_info[p].level == 0; }

    void chooseIndex() {
        m_indexId = m_options.walk.indexId;
        const std::uint32_t root = m_options.rootPage;
        auto indexPage = [&](std::uint32_t p) {
            return p < m_info.size() &&
                   (m_info[p].kind == Kind::Index || m_info[p].kind == Kind::OtherFormat);
        };
        if (m_indexId == 0 && indexPage(root)) m_indexId = m_info[root].indexId;
        if (m_indexId == 0 && !m_counts.pagesRead.empty() && indexPage(m_counts.pagesRead.front()))
            m_indexId = m_info[m_counts.pagesRead.front()].indexId;
        if (m_indexId == 0 && m_ownFile) {
            // The root's header may have survived the damage to the rest of the page.
            if (root < m_info.size() && m_info[root].kind == Kind::Damaged &&
                isIndexPageType(m_info[root].pageType)) {
                for (std::uint32_t p = 0; p < m_info.size() && m_indexId == 0; ++p)
                    if (indexPage(p) && m_info[p].indexId == m_info[root].indexId)
                        m_indexId = m_info[root].indexId;
            }
        }
        if (m_indexId == 0 && m_ownFile) {
            // The clustered index is created first and so has the smallest id of the file;
            // the roots of the secondary indexes of CREATE TABLE follow page 3 and are
            // never its.
            const std::uint32_t secondaryRoots = secondaryIndexCount();
            std::set<std::uint64_t> secondary;
            for (std::uint32_t p = root + 1; p <= root + secondaryRoots && p < m_info.size(); ++p)
                if (indexPage(p)) secondary.insert(m_info[p].indexId);
            for (std::uint32_t p = 0; p < m_info.size(); ++p)
                if (indexPage(p) && m_info[p].indexId != 0 && !secondary.count(m_info[p].indexId) &&
                    (m_indexId == 0 || m_info[p].indexId < m_indexId))
                    m_indexId = m_info[p].indexId;
        }
        if (root != 0 && root < m_info.size() && !ours(root)) {
            const auto k = m_info[root].kind;
            m_damage.notes.push_back(
                "page " + std::to_string(root) + " (the root of the index) " +
                (k == Kind::Damaged ? "damaged (" + m_problems[root] + ")"
                 : k == Kind::Zero  ? std::string("damaged (the page is all zeros)")
                                    : std::string("does not hold the index")) +
                "; its leaf pages were found by a scan of the file");
        }
    }

    // The keys of the definition that are not the clustering key.
    std::uint32_t secondaryIndexCount() const {
        const auto keys = static_cast<std::uint32_t>(m_ctx.keys.size());
        const bool rowId = keyFields(m_ctx).empty();
        return rowId ? keys : (keys > 0 ? keys - 1 : 0);
    }

    core::Status readNodePointers() {
        std::uint32_t nullBitmap = prepareWalkLayout(m_ctx);
        if (ours(m_options.rootPage)) {
            if (auto st = readAt(m_options.rootPage); !st) return st;
            nullBitmap = nodePointerNullBitmapSize(m_ctx, m_view);
        }
        for (std::uint32_t p = 0; p < m_info.size(); ++p) {
            if (!ours(p) || m_info[p].level == 0 || m_info[p].kind != Kind::Index || isFree(p))
                continue;
            if (auto st = readAt(p); !st) return st;
            const auto chain = compactChain(m_view, 0, false);
            std::vector<std::pair<ClusterKey, bool>> keys;
            for (const auto& e : chain) {
                const auto header = compactHeader(m_view, e.origin);
                auto key = readClusterKey(m_ctx, m_view, e.origin, nullBitmap, true);
                if (!header || !key) continue;
                keys.emplace_back(std::move(*key), (header->infoBits & kInfoMinRecord) != 0);
            }
            for (std::size_t i = 0; i < keys.size(); ++i) {
                Pointer ptr{keys[i].first, keys[i].second, std::nullopt};
                if (i + 1 < keys.size()) ptr.nextKey = keys[i + 1].first;
                m_referenced.insert(ptr.key.childPage);
                m_pointers[ptr.key.childPage] = std::move(ptr);
            }
        }
        return core::Status::ok();
    }

    // The first and last keys of leaf p; each key also goes to collect when given.
    core::Status leafKeys(std::uint32_t p, std::unordered_set<std::string>* collect, bool& any) {
        if (auto st = readAt(p); !st) return st;
        LeafKeys& keys = m_leafKeys[p];
        const std::uint32_t nullBitmap = prepareWalkLayout(m_ctx);
        forEachRecord(m_view, p, m_ownFile, [&](const LeafRecord& r, bool) {
            auto key = readClusterKey(m_ctx, m_view, r.origin, nullBitmap, false);
            if (!key) return true;
            any = true;
            if (collect) collect->insert(joinedKey(*key));
            if (!keys.first) keys.first = *key;
            keys.last = std::move(*key);
            return true;
        });
        return core::Status::ok();
    }

    core::Status readChainKeys() {
        for (const std::uint32_t p : m_counts.pagesRead) {
            m_known.insert(p);
            bool any = false;
            if (auto st = leafKeys(p, &m_seen, any); !st) return st;
        }
        return core::Status::ok();
    }

    core::Status emitCandidates() {
        // Links of old copies do not count: only those of the chain's pages and of leaves
        // the space map keeps.
        auto link = [&](std::uint32_t p) {
            m_referenced.insert(m_info[p].prev);
            m_referenced.insert(m_info[p].next);
        };
        for (const std::uint32_t p : m_known) link(p);
        for (std::uint32_t p = 0; p < m_info.size(); ++p)
            if (ourLeaf(p) && !m_known.count(p) && !isFree(p)) link(p);
        // A leaf that a node pointer or a linked leaf names is a page of the index; one
        // that none names may be an old copy (where the space map has no say, or keeps
        // it): its records are taken only where no named leaf holds their keys, and at
        // the same first key a named leaf goes first.
        struct Candidate {
            ClusterKey first;
            bool unnamed = false;
            std::uint32_t page = 0;
            bool operator<(const Candidate& o) const {
                return std::tie(first, unnamed, page) < std::tie(o.first, o.unnamed, o.page);
            }
        };
        std::vector<Candidate> order;
        for (std::uint32_t p = 0; p < m_info.size(); ++p) {
            if (!ourLeaf(p) || m_known.count(p)) continue;
            if (m_info[p].kind == Kind::OtherFormat) {
                ++m_counts.otherFormatPages;
                continue;
            }
            if (!m_referenced.count(p) && isFree(p)) {
                ++m_damage.freePagesSkipped;
                continue;
            }
            bool any = false;
            const bool named = m_referenced.count(p) != 0;
            if (auto st = leafKeys(p, named ? &m_claimed : nullptr, any); !st) return st;
            if (!any) continue;
            order.push_back({*m_leafKeys[p].first, !named, p});
        }
        std::sort(order.begin(), order.end());
        const std::uint32_t nullBitmap = prepareWalkLayout(m_ctx);
        for (const auto& candidate : order) {
            // A plain variable: clang 14 does not let the lambda below capture a
            // structured binding.
            const std::uint32_t p = candidate.page;
            const bool unnamed = candidate.unnamed;
            if (stopRequested()) return core::Status::ok();
            ++m_counts.pagesVisited;
            if (auto st = readAt(p); !st) return st;
            m_known.insert(p);
            ++m_damage.salvagedPages;
            m_counts.pagesRead.push_back(p);
            const std::uint32_t unreached = forEachRecord(m_view, p, m_ownFile, [&](const LeafRecord& r, bool deleted) {
                if (deleted) {
                    ++m_counts.deletedSkipped;
                    return true;
                }
                const auto key = readClusterKey(m_ctx, m_view, r.origin, nullBitmap, false);
                if (!key) {
                    m_damage.recordUnreadable(p);
                    return true;
                }
                std::string joined = joinedKey(*key);
                if ((unnamed && m_claimed.count(joined)) || !m_seen.insert(std::move(joined)).second) {
                    ++m_damage.duplicateRecords;
                    return true;
                }
                ++m_counts.recordsTaken;
                ++m_damage.salvagedRecords;
                if (!m_onRecord(m_view, r)) {
                    m_ended = true;
                    return false;
                }
                return true;
            });
            if (m_ended) return core::Status::ok();
            if (unreached != 0) m_damage.unreadableRecords[p] += unreached;
            if (m_options.walk.afterPage) m_options.walk.afterPage();
        }
        return core::Status::ok();
    }

    // Whether the space map marks page p free (an old copy, not part of the index).
    bool isFree(std::uint32_t p) {
        // Descriptor pages come every physical page size pages; extents are counted in
        // pages as the server works on them.
        const std::uint32_t physical = m_format.physicalPageSize;
        const std::uint32_t descriptorPage = p - p % physical;
        if (descriptorPage >= m_info.size()) return false;
        const ScanInfo& d = m_info[descriptorPage];
        if (d.kind != Kind::Other || (d.pageType != kPageTypeFspHeader && d.pageType != kPageTypeXdes))
            return false;
        if (m_descriptorPage != descriptorPage) {
            m_descriptor.assign(m_pageSize, 0);
            if (!readTablespacePage(m_file, m_format, descriptorPage, PageBuffer(m_descriptor)))
                return false;
            m_descriptorPage = descriptorPage;
        }
        const std::uint32_t within = p % physical;
        const std::uint32_t perExtent = extentPages(m_pageSize);
        const std::size_t entrySize = extentDescriptorSize(m_pageSize);
        const std::size_t entry = kXdesArrayOffset + std::size_t{within / perExtent} * entrySize;
        const core::ByteSpan view(m_descriptor.data(), m_descriptor.size());
        if (entry + entrySize > view.size()) return false;
        const auto state = static_cast<std::uint32_t>(core::readBeAt(view, entry + kXdesStateOffset, 4));
        if (state == kXdesStateFree) return true;
        if (state == 0) return false;  // not initialised: no say
        const std::uint32_t bit = 2 * (within % perExtent);
        return ((view[entry + kXdesBitmapOffset + bit / 8] >> (bit % 8)) & 1) != 0;
    }

    std::string reasonOf(std::uint32_t p) {
        if (p >= m_info.size())
            return "it lies beyond the end of the file (the file is cut short)";
        switch (m_info[p].kind) {
            case Kind::Zero: return "the page is all zeros";
            case Kind::Damaged: return m_problems[p];
            case Kind::OtherFormat: return "its records are not in the compact format";
            default: return "it holds other data";
        }
    }

    bool lostCandidate(std::uint32_t p) const {
        if (p == kFilNull || m_known.count(p)) return false;
        if (ours(p) && m_info[p].level > 0) return false;
        return true;
    }

    void addLost(std::uint32_t p, std::set<std::uint32_t>& lost) {
        if (lostCandidate(p)) lost.insert(p);
    }

    void nameLostPages() {
        std::set<std::uint32_t> lost;
        for (const auto& [child, ptr] : m_pointers) addLost(child, lost);
        for (const std::uint32_t p : m_known) {
            addLost(m_info[p].prev, lost);
            addLost(m_info[p].next, lost);
        }
        if (m_counts.broken) addLost(m_counts.brokenPage, lost);
        // A damaged page whose header still names this index's leaf level.
        for (std::uint32_t p = 0; p < m_info.size(); ++p)
            if (m_info[p].kind == Kind::Damaged && m_info[p].indexId == m_indexId &&
                m_info[p].level == 0 && isIndexPageType(m_info[p].pageType))
                addLost(p, lost);

        // Keys of the known leaves in order, for bounds no parent gives.
        std::vector<std::pair<ClusterKey, ClusterKey>> known;
        for (const std::uint32_t p : m_known) {
            const LeafKeys& k = m_leafKeys[p];
            if (k.first && k.last) known.emplace_back(*k.first, *k.last);
        }
        std::sort(known.begin(), known.end());

        struct Named {
            std::optional<ClusterKey> order;
            LostPage lost;
        };
        std::vector<Named> named;
        for (const std::uint32_t p : lost) {
            Named n;
            n.lost.page = p;
            n.lost.reason = reasonOf(p);
            std::optional<ClusterKey> lower, upper;
            bool inclusive = false, fromStart = false;
            if (const auto it = m_pointers.find(p); it != m_pointers.end()) {
                if (it->second.leftmost) {
                    fromStart = true;
                } else {
                    lower = it->second.key;
                    inclusive = true;
                }
                upper = it->second.nextKey;
            }
            for (const std::uint32_t k : m_known) {
                if (!lower && !fromStart && m_info[k].next == p && m_leafKeys[k].last)
                    lower = m_leafKeys[k].last;
                if (!upper && m_info[k].prev == p && m_leafKeys[k].first) upper = m_leafKeys[k].first;
            }
            if (lower && !upper) {
                for (const auto& [first, last] : known)
                    if (*lower < first) {
                        upper = first;
                        break;
                    }
            } else if (upper && !lower && !fromStart) {
                for (auto it = known.rbegin(); it != known.rend(); ++it)
                    if (it->second < *upper) {
                        lower = it->second;
                        break;
                    }
            }
            if (lower) {
                n.lost.lowerKey = keyText(m_ctx, m_settings, *lower);
                n.lost.lowerInclusive = inclusive;
                n.order = lower;
            } else if (fromStart) {
                n.order = ClusterKey{};
            }
            if (upper) {
                n.lost.upperKey = keyText(m_ctx, m_settings, *upper);
                if (!n.order) n.order = upper;
            }
            named.push_back(std::move(n));
        }
        std::stable_sort(named.begin(), named.end(), [](const Named& a, const Named& b) {
            if (a.order && b.order) return *a.order < *b.order;
            return a.order.has_value() && !b.order.has_value();
        });
        for (auto& n : named) m_damage.lostPages.push_back(std::move(n.lost));
        addUncertainPages(lost);
    }

    // In a table's own file, a damaged page that nothing names may still have been one
    // of its leaves (its parent and both neighbours lost too), unless its header or the
    // space map says otherwise.
    void addUncertainPages(const std::set<std::uint32_t>& named) {
        if (!m_ownFile) return;
        for (std::uint32_t p = 0; p < m_info.size(); ++p) {
            if (m_info[p].kind != Kind::Damaged || named.count(p)) continue;
            const ScanInfo& i = m_info[p];
            if (isIndexPageType(i.pageType) && m_indexId != 0 &&
                (i.indexId != m_indexId || (i.level > 0 && p != m_options.rootPage)))
                continue;
            // A damaged root above leaves that were all found holds no rows itself.
            if (p == m_options.rootPage && isIndexPageType(i.pageType) && i.level > 0 &&
                i.indexId == m_indexId)
                continue;
            if (std::find(std::begin(kOtherPageTypes), std::end(kOtherPageTypes), i.pageType) !=
                    std::end(kOtherPageTypes) ||
                i.pageType == kPageTypeAllocated)
                continue;
            if (isFree(p)) continue;
            LostPage lost;
            lost.page = p;
            lost.reason = m_problems[p];
            lost.uncertain = true;
            m_damage.lostPages.push_back(std::move(lost));
        }
    }

    InnodbReader& m_ctx;
    core::AppSettings& m_settings;
    const ClusteredWalkOptions& m_options;
    const std::function<bool(core::ByteSpan, const LeafRecord&)>& m_onRecord;
    LeafWalkCounts& m_counts;
    LeafDamage& m_damage;
    core::ReadOnlyFile& m_file;
    std::uint64_t m_pages;
    bool m_ownFile;
    TablespaceFormat m_format;
    std::uint32_t m_pageSize;
    std::vector<std::uint8_t> m_buffer;
    core::ByteSpan m_view;
    PageCheck m_check;
    std::vector<ScanInfo> m_info;
    std::unordered_map<std::uint32_t, std::string> m_problems;
    std::uint64_t m_indexId = 0;
    std::unordered_map<std::uint32_t, Pointer> m_pointers;
    std::unordered_set<std::uint32_t> m_referenced;
    std::unordered_map<std::uint32_t, LeafKeys> m_leafKeys;
    std::unordered_set<std::string> m_seen;
    std::unordered_set<std::string> m_claimed;  // keys of the leaves the index names
    std::set<std::uint32_t> m_known;
    std::vector<std::uint8_t> m_descriptor;
    std::uint32_t m_descriptorPage = kFilNull;
    bool m_stopped = false;
    bool m_ended = false;
};

}  // namespace

std::uint64_t LeafDamage::unreadableCount() const {
    std::uint64_t n = 0;
    for (const auto& [page, count] : unreadableRecords) n += count;
    return n;
}

std::vector<std::string> LeafDamage::reportLines() const {
    std::vector<std::string> lines;
    if (chainBroken) lines.push_back("The leaf chain of the index breaks: " + chainBreak + ".");
    if (indexMissing)
        lines.push_back("No intact page of the table's index was found in the file: its rows are lost.");
    if (!layoutProblem.empty())
        lines.push_back("The rows of the leaf pages found by the scan are not read: " + layoutProblem + ".");
    for (const LostPage& p : lostPages) {
        std::string line;
        if (p.uncertain) {
            line = "page " + std::to_string(p.page) + " damaged (" + p.reason +
                   "): it may have held rows of this table";
        } else {
            line = "rows with " + keyNames;
            const std::string lower =
                p.lowerKey.empty() ? "" : (p.lowerInclusive ? " from " : " after ") + p.lowerKey;
            if (p.lowerKey.empty() && p.upperKey.empty())
                line += " of an unknown range";
            else if (p.upperKey.empty())
                line += lower + " on";
            else
                line += lower + (p.lowerKey.empty() ? " before " : p.lowerInclusive ? " to before " : " and before ") +
                        p.upperKey;
            line += " lost: page " + std::to_string(p.page) + " damaged (" + p.reason + ")";
        }
        lines.push_back(line + ".");
    }
    for (const auto& [page, count] : unreadableRecords)
        lines.push_back(std::to_string(count) + " record(s) of page " + std::to_string(page) +
                        " could not be read and were skipped.");
    for (const std::string& row : lostRows) lines.push_back(row + ".");
    if (namedRowsLeftOut != 0)
        lines.push_back(std::to_string(namedRowsLeftOut) + " more row(s) lost to values that cannot be read whole.");
    if (salvagedPages != 0)
        lines.push_back(std::to_string(salvagedRecords) + " rows were read from " +
                        std::to_string(salvagedPages) + " leaf page(s) found by a scan of " +
                        std::to_string(pagesScanned) + " pages.");
    if (duplicateRecords != 0)
        lines.push_back(std::to_string(duplicateRecords) +
                        " record(s) found a second time (an old copy of a page) were passed over.");
    if (freePagesSkipped != 0)
        lines.push_back(std::to_string(freePagesSkipped) +
                        " leaf page(s) that the space map marks free (old copies) were passed over.");
    for (const auto& n : notes) lines.push_back(n + ".");
    return lines;
}

void LeafDamage::recordLostRow(std::uint32_t page, const std::string& key, const std::string& why) {
    recordUnreadable(page);
    if (lostRows.size() >= kNamedLostRows) {
        ++namedRowsLeftOut;
        return;
    }
    lostRows.push_back((key.empty() ? "a row of page " + std::to_string(page) : "row with " + keyNames + " " + key) +
                       " lost: " + why);
}

void recordRefused(InnodbReader& ctx, core::AppSettings& settings, core::ByteSpan page,
                   const LeafRecord& record, std::uint32_t nullBitmapSize, LeafDamage& damage) {
    if (ctx.valueLoss.empty()) {
        damage.recordUnreadable(record.page);
        return;
    }
    std::string key;
    if (isCompactIndexPage(page))
        if (const auto k = readClusterKey(ctx, page, record.origin, nullBitmapSize, false))
            key = keyText(ctx, settings, *k);
    damage.recordLostRow(record.page, key, ctx.valueLoss);
}

std::string LeafDamage::lossSummary() const {
    if (indexMissing) return "no intact page of its index was found: its rows are lost";
    if (!layoutProblem.empty()) return "the rows of its leaf pages found by a scan are not read";
    return std::to_string(lostPages.size()) + " leaf page(s) and " + std::to_string(unreadableCount()) +
           " record(s) could not be read";
}

core::Status walkClusteredIndex(
    InnodbReader& ctx, core::AppSettings& settings, const ClusteredWalkOptions& options,
    const std::function<bool(core::ByteSpan page, const LeafRecord&)>& onRecord,
    LeafWalkCounts& counts, LeafDamage& damage) {
    damage.keyNames = keyNamesOf(ctx);
    bool ended = false;
    const std::function<bool(core::ByteSpan, const LeafRecord&)> consumer =
        [&](core::ByteSpan page, const LeafRecord& record) {
            if (onRecord(page, record)) return true;
            ended = true;
            return false;
        };
    bool stopped = false;
    ClusteredWalkOptions chainOptions = options;
    chainOptions.walk.beforePage = [&](std::uint64_t visited) {
        if (options.walk.beforePage && !options.walk.beforePage(visited)) stopped = true;
        return !stopped;
    };
    if (options.walk.firstPage != 0) {
        if (auto st = walkLeafChain(ctx, chainOptions.walk, consumer, counts); !st) return st;
        for (const auto& [page, missing] : counts.unreachedRecords)
            damage.unreadableRecords[page] += missing;
        if (ended || stopped || !counts.broken) return core::Status::ok();
        damage.chainBroken = true;
        damage.chainBreak = counts.brokenReason;
    } else {
        damage.chainBroken = true;
        damage.chainBreak = "its first leaf page cannot be reached from the root";
    }
    Salvage salvage(ctx, settings, options, onRecord, counts, damage);
    return salvage.run();
}

std::string clusterKeyNames(const InnodbReader& ctx) { return keyNamesOf(ctx); }

std::uint64_t clusteredIndexId(const InnodbReader& ctx, std::uint64_t tableId) {
    std::uint64_t found = 0;
    for (const auto& r : ctx.dictionary().sysIndexes) {
        if (r.tableId != tableId || (r.type & kIndexClustered) == 0) continue;
        if (!r.deleted) return r.indexId;
        if (found == 0) found = r.indexId;
    }
    return found;
}

}  // namespace dunmore::innodb
