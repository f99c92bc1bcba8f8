#include "cli/item_names.h"

#include "core/catalogue.h"

#include <algorithm>
#include <cctype>

namespace dunmore::cli {

namespace {

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    const std::string_view tail = text.substr(text.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

using NodeId = core::CheckTree::NodeId;

// The child folder node of a database node with the tag (Views, Trigger) or, for the
// tables, the structural "Tables" node.
NodeId folderNode(const core::CheckTree& tree, NodeId database, std::int32_t tag) {
    for (NodeId child : tree.node(database).children) {
        const auto& n = tree.node(child);
        if (n.tag == tag && (tag != core::kTagStructural || n.text == "Tables")) return child;
    }
    return core::CheckTree::kNone;
}

NodeId childNamed(const core::CheckTree& tree, NodeId folder, std::string_view name) {
    return folder == core::CheckTree::kNone ? core::CheckTree::kNone : tree.findChild(folder, name);
}

}  // namespace

std::vector<NodeId> databaseNodes(const core::CheckTree& tree) {
    std::vector<NodeId> out;
    for (NodeId root : tree.roots())
        for (NodeId dataNode : tree.node(root).children)
            for (NodeId db : tree.node(dataNode).children) out.push_back(db);
    return out;
}

std::optional<NamedItem> findNamedItem(const core::MainFrame& frame, std::string_view item,
                                       bool withTriggers) {
    const core::CheckTree& tree = frame.tree;
    std::vector<NodeId> dbs = databaseNodes(tree);
    std::stable_sort(dbs.begin(), dbs.end(), [&](NodeId a, NodeId b) {
        return tree.node(a).text.size() > tree.node(b).text.size();
    });
    for (NodeId db : dbs) {
        const std::string& dbName = tree.node(db).text;
        NamedItem found;
        found.database = dbName;
        if (item == dbName) {
            found.nodes.push_back(db);
            return found;
        }
        if (item.size() <= dbName.size() + 1 || !item.starts_with(dbName) || item[dbName.size()] != '.')
            continue;
        const std::string_view rest = item.substr(dbName.size() + 1);
        const NodeId tables = folderNode(tree, db, core::kTagStructural);
        const NodeId views = folderNode(tree, db, core::kTagViewsFolder);
        const NodeId triggers = folderNode(tree, db, core::kTagTriggerFolder);
        found.name = std::string(rest);
        const NodeId trigger = childNamed(tree, triggers, rest);
        if (const NodeId t = childNamed(tree, tables, rest); t != core::CheckTree::kNone) {
            found.kind = NamedItem::Kind::Table;
            found.nodes.push_back(t);
            if (withTriggers && trigger != core::CheckTree::kNone) found.nodes.push_back(trigger);
            return found;
        }
        if (const NodeId v = childNamed(tree, views, rest); v != core::CheckTree::kNone) {
            found.kind = NamedItem::Kind::View;
            found.nodes.push_back(v);
            return found;
        }
        if (trigger != core::CheckTree::kNone) {
            found.kind = NamedItem::Kind::Trigger;
            found.nodes.push_back(trigger);
            return found;
        }
        constexpr std::string_view kTrg = ".TRG";
        if (endsWithNoCase(rest, kTrg)) {
            const std::string_view base = rest.substr(0, rest.size() - kTrg.size());
            if (const NodeId t = childNamed(tree, triggers, base); t != core::CheckTree::kNone) {
                found.kind = NamedItem::Kind::Trigger;
                found.name = std::string(base);
                found.nodes.push_back(t);
                return found;
            }
        }
        constexpr std::string_view kKeys = ".Keys";
        if (endsWithNoCase(rest, kKeys)) {
            const std::string_view base = rest.substr(0, rest.size() - kKeys.size());
            if (const NodeId t = childNamed(tree, tables, base); t != core::CheckTree::kNone) {
                found.kind = NamedItem::Kind::TableKeys;
                found.name = std::string(base);
                for (NodeId k : tree.node(t).children)
                    if (tree.node(k).tag == core::kTagKeys) found.nodes.push_back(k);
                if (found.nodes.empty()) continue;
                return found;
            }
        }
    }
    return std::nullopt;
}

}  // namespace dunmore::cli
