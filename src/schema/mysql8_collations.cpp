// Collations of MySQL 8.0 / 8.4 beyond a MariaDB server's list, by number (the numbers
// MySQL's SHOW COLLATION gives; SDI and InnoDB precise types carry them), and their
// nearest MariaDB counterparts (MariaDB 10.10+ has the UCA 14.0.0 collations
// utf8mb4_uca1400_*, with the same accent and case sensitivity suffixes).
#include "schema/mysql8_collations.h"

#include <array>

namespace dunmore::schema {

namespace {

struct Mysql8Collation {
    std::uint32_t number;
    std::string_view name;
};

// utf8mb4 collations of UCA 9.0.0 (272, 276, 295, 299, 301 and 302 are not assigned).
constexpr Mysql8Collation kUtf8mb4[] = {
    {255, "utf8mb4_0900_ai_ci"},        {256, "utf8mb4_de_pb_0900_ai_ci"},
    {257, "utf8mb4_is_0900_ai_ci"},     {258, "utf8mb4_lv_0900_ai_ci"},
    {259, "utf8mb4_ro_0900_ai_ci"},     {260, "utf8mb4_sl_0900_ai_ci"},
    {261, "utf8mb4_pl_0900_ai_ci"},     {262, "utf8mb4_et_0900_ai_ci"},
    {263, "utf8mb4_es_0900_ai_ci"},     {264, "utf8mb4_sv_0900_ai_ci"},
    {265, "utf8mb4_tr_0900_ai_ci"},     {266, "utf8mb4_cs_0900_ai_ci"},
    {267, "utf8mb4_da_0900_ai_ci"},     {268, "utf8mb4_lt_0900_ai_ci"},
    {269, "utf8mb4_sk_0900_ai_ci"},     {270, "utf8mb4_es_trad_0900_ai_ci"},
    {271, "utf8mb4_la_0900_ai_ci"},     {273, "utf8mb4_eo_0900_ai_ci"},
    {274, "utf8mb4_hu_0900_ai_ci"},     {275, "utf8mb4_hr_0900_ai_ci"},
    {277, "utf8mb4_vi_0900_ai_ci"},     {278, "utf8mb4_0900_as_cs"},
    {279, "utf8mb4_de_pb_0900_as_cs"},  {280, "utf8mb4_is_0900_as_cs"},
    {281, "utf8mb4_lv_0900_as_cs"},     {282, "utf8mb4_ro_0900_as_cs"},
    {283, "utf8mb4_sl_0900_as_cs"},     {284, "utf8mb4_pl_0900_as_cs"},
    {285, "utf8mb4_et_0900_as_cs"},     {286, "utf8mb4_es_0900_as_cs"},
    {287, "utf8mb4_sv_0900_as_cs"},     {288, "utf8mb4_tr_0900_as_cs"},
    {289, "utf8mb4_cs_0900_as_cs"},     {290, "utf8mb4_da_0900_as_cs"},
    {291, "utf8mb4_lt_0900_as_cs"},     {292, "utf8mb4_sk_0900_as_cs"},
    {293, "utf8mb4_es_trad_0900_as_cs"}, {294, "utf8mb4_la_0900_as_cs"},
    {296, "utf8mb4_eo_0900_as_cs"},     {297, "utf8mb4_hu_0900_as_cs"},
    {298, "utf8mb4_hr_0900_as_cs"},     {300, "utf8mb4_vi_0900_as_cs"},
    {303, "utf8mb4_ja_0900_as_cs"},     {304, "utf8mb4_ja_0900_as_cs_ks"},
    {305, "utf8mb4_0900_as_ci"},        {306, "utf8mb4_ru_0900_ai_ci"},
    {307, "utf8mb4_ru_0900_as_cs"},     {308, "utf8mb4_zh_0900_as_cs"},
    {309, "utf8mb4_0900_bin"},          {310, "utf8mb4_nb_0900_ai_ci"},
    {311, "utf8mb4_nb_0900_as_cs"},     {312, "utf8mb4_nn_0900_ai_ci"},
    {313, "utf8mb4_nn_0900_as_cs"},     {314, "utf8mb4_sr_latn_0900_ai_ci"},
    {315, "utf8mb4_sr_latn_0900_as_cs"}, {316, "utf8mb4_bs_0900_ai_ci"},
    {317, "utf8mb4_bs_0900_as_cs"},     {318, "utf8mb4_bg_0900_ai_ci"},
    {319, "utf8mb4_bg_0900_as_cs"},     {320, "utf8mb4_gl_0900_ai_ci"},
    {321, "utf8mb4_gl_0900_as_cs"},     {322, "utf8mb4_mn_cyrl_0900_ai_ci"},
    {323, "utf8mb4_mn_cyrl_0900_as_cs"},
};

// MySQL's language tags to the language names of MariaDB's uca1400 collations.
struct Language {
    std::string_view mysql;
    std::string_view mariadb;
};
constexpr Language kLanguages[] = {
    {"de_pb", "german2"},   {"is", "icelandic"},  {"lv", "latvian"},     {"ro", "romanian"},
    {"sl", "slovenian"},    {"pl", "polish"},     {"et", "estonian"},    {"es", "spanish"},
    {"sv", "swedish"},      {"tr", "turkish"},    {"cs", "czech"},       {"da", "danish"},
    {"lt", "lithuanian"},   {"sk", "slovak"},     {"es_trad", "spanish2"}, {"la", "roman"},
    {"eo", "esperanto"},    {"hu", "hungarian"},  {"hr", "croatian"},    {"vi", "vietnamese"},
};

constexpr std::string_view kUtf8mb4Prefix = "utf8mb4_";
constexpr std::string_view kUca900 = "0900_";

}  // namespace

void addMysql8Collations(CollationTable& table) {
    const auto add = [&](std::uint32_t number, std::string_view charset, std::uint32_t minBytes,
                         std::uint32_t maxBytes, std::string_view name) {
        if (table.lookupCollation(number) != nullptr) return;
        table.insert(number, {minBytes, maxBytes, std::string(charset), std::string(name)});
    };
    for (const auto& c : kUtf8mb4) add(c.number, "utf8mb4", 1, 4, c.name);
    add(76, "utf8mb3", 1, 3, "utf8mb3_tolower_ci");
    add(248, "gb18030", 1, 4, "gb18030_chinese_ci");
    add(249, "gb18030", 1, 4, "gb18030_bin");
    add(250, "gb18030", 1, 4, "gb18030_unicode_520_ci");
}

bool isMysql8OnlyCollation(std::string_view name) {
    return nearestMariadbCollation(name) != name;
}

std::string nearestMariadbCollation(std::string_view name) {
    if (name.starts_with("gb18030_")) return "utf8mb4_unicode_520_ci";
    if (name == "utf8mb3_tolower_ci") return "utf8mb3_general_ci";
    if (!name.starts_with(kUtf8mb4Prefix)) return std::string(name);
    std::string_view rest = name.substr(kUtf8mb4Prefix.size());
    const auto uca = rest.find(kUca900);
    if (uca == std::string_view::npos) return std::string(name);
    std::string_view language = rest.substr(0, uca == 0 ? 0 : uca - 1);
    std::string_view strength = rest.substr(uca + kUca900.size());
    if (strength == "bin") return "utf8mb4_bin";
    // MariaDB has no kana-sensitive variant; the accent and case rules stay.
    if (strength == "as_cs_ks") strength = "as_cs";
    std::string out = "utf8mb4_uca1400_";
    for (const auto& l : kLanguages) {
        if (l.mysql == language) {
            out += l.mariadb;
            out += '_';
            break;
        }
    }
    return out + std::string(strength);
}

std::string nearestMariadbCharset(std::string_view charset, std::string_view collationName) {
    if (collationName.starts_with("gb18030_")) return "utf8mb4";
    return std::string(charset);
}

CollationTable withNearestMariadbNames(const CollationTable& table) {
    CollationTable out = table;
    for (const auto& [number, entry] : table.entries()) {
        if (!isMysql8OnlyCollation(entry.collationName)) continue;
        CollationEntry mapped = entry;
        mapped.collationName = nearestMariadbCollation(entry.collationName);
        mapped.charsetName = nearestMariadbCharset(entry.charsetName, entry.collationName);
        out.insert(number, std::move(mapped));
    }
    return out;
}

}  // namespace dunmore::schema
