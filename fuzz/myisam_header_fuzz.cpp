// fuzz-link: dunmore_myisam
// fuzz-seeds: data/sample/datadir/*/*.MYI ../shared/peer-fixtures/mariadb-server/std_data/*.MYI
// fuzz-seeds: ../shared/peer-fixtures/mariadb-server/std_data/*/*.MYI
//
// The .MYI head over hostile bytes: the header, the state information with its row
// counts, the base information and the key, unique and column definitions, then the
// judgement of the head (cut short, foreign, definitions that do not add up) and of its
// counts. The bytes are also the .MYI of each MyISAM table of the sample (its .frm and
// .MYD intact), whose layout is taken from the head when it is whole and from the
// definition otherwise, and a few records of the .MYD are read with it. Nothing may read
// outside the bytes or the files, and what is kept is bounded by the file.
#include "myisam/myisam_header.h"
#include "myisam/myisam_layout.h"
#include "myisam/myisam_record_reader.h"
#include "schema/frm_reader.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;

const char* const kTables[] = {"library/authors", "shop/order_log", "shop/products"};

const std::vector<core::TableDefinitionState>& definitions() {
    static const std::vector<core::TableDefinitionState> defs = [] {
        std::vector<core::TableDefinitionState> out;
        core::AppSettings settings;
        for (const char* t : kTables) {
            core::TableDefinitionState d;
            const fs::path frm = fs::path(DUNMORE_SOURCE_DIR) / "data/sample/datadir" / (std::string(t) + ".frm");
            if (!schema::readTableDefinitionStatus(d, frm, settings).isOk()) std::abort();
            out.push_back(std::move(d));
        }
        return out;
    }();
    return defs;
}

const fs::path& scratch() {
    static const fs::path path =
        fs::temp_directory_path() / ("dunmore-myisam-header-fuzz-" + std::to_string(::getpid()) + ".MYI");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const core::ByteSpan head(data, size);
    {
        myisam::MyisamState state;
        myisam::MyisamHeadFacts facts;
        (void)myisam::parseMyisamHeader(head, size, state, &facts);
        // Every column definition takes 7 bytes of the head.
        if (state.myisamColumns.size() * 7 > size) std::abort();
        const std::string damage = myisam::myisamHeadDamage(state, facts);
        if (state.stateCounts) (void)myisam::plausibleStateCounts(*state.stateCounts, state);
        // A longer file than the head read (the index blocks follow).
        myisam::MyisamState longer;
        (void)myisam::parseMyisamHeader(head, std::uint64_t{size} * 4 + 1, longer, nullptr);
    }

    if (std::FILE* f = std::fopen(scratch().c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    for (std::size_t t = 0; t < std::size(kTables); ++t) {
        myisam::MyisamReader reader(definitions()[t]);
        const fs::path dataPath = fs::path(DUNMORE_SOURCE_DIR) / "data/sample/datadir" / (std::string(kTables[t]) + ".MYD");
        if (!myisam::loadMyisamLayout(reader, scratch(), dataPath)) continue;
        if (!reader.dataFile.open(dataPath).isOk()) continue;
        myisam::WalkOptions options;
        options.decode.saving = true;
        std::uint32_t rows = 0;
        options.collectRows = false;
        options.onRow = [&](std::uint64_t) { return ++rows < 64; };
        (void)myisam::walkMyisamRows(reader, 0, options);
    }
    return 0;
}
