#include "tvgenerate.h"

#include <cctype>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "kxexception.h"
#include "tvappstate.h"

namespace {

constexpr const char* kClass = "TvGenerate";

// splitmix64: fixed arithmetic, so the tables do not depend on the standard library's
// distributions.
class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed) {}
    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // low .. high inclusive.
    int32_t Between(int32_t low, int32_t high) {
        return low + static_cast<int32_t>(Next() % static_cast<uint64_t>(high - low + 1));
    }
    bool Chance(int32_t percent) { return Between(1, 100) <= percent; }
    template <typename T, size_t N> const T& Pick(const T (&items)[N]) {
        return items[Next() % N];
    }
    template <typename T> const T& Pick(const std::vector<T>& items) {
        return items[Next() % items.size()];
    }

private:
    uint64_t m_state;
};

const char* const kDrugColumns[] = {
    "category",      "subcategory",   "route",         "mechanism",  "first_us_approval",
    "generic_name",  "code_as",       "coding_history", "abbreviations", "brand_names",
    "chemical_name", "nsc_numbers",   "primary_sites", "other_names", "remarks",
    "remarks_2",     "reviewed"};
const char* const kRegimenColumns[] = {"regimen_name", "drugs", "codes", "full_name", "used_for",
                                       "notes"};
constexpr const char* kReviewed = "2026-12-11";

struct Class {
    const char* category;
    const char* subcategory;
    const char* stem;
};
const Class kClasses[] = {
    {"Chemotherapy", "Alkylating agent (nitrogen mustard)", "MUSTINE"},
    {"Chemotherapy", "Alkylating agent (nitrosourea)", "MUSTINE"},
    {"Chemotherapy", "Platinum compound", "PLATIN"},
    {"Chemotherapy", "Antimetabolite (pyrimidine analogue)", "CITABINE"},
    {"Chemotherapy", "Antimetabolite (purine analogue)", "RIBINE"},
    {"Chemotherapy", "Anthracycline", "RUBICIN"},
    {"Chemotherapy", "Taxane", "TAXEL"},
    {"Chemotherapy", "Vinca alkaloid", "VINE"},
    {"Chemotherapy", "Topoisomerase inhibitor", "TECAN"},
    {"Chemotherapy", "Kinase inhibitor (EGFR)", "TINIB"},
    {"Chemotherapy", "Kinase inhibitor (BCR-ABL)", "TINIB"},
    {"Chemotherapy", "Monoclonal antibody (anti-CD20)", "TUXIMAB"},
    {"Chemotherapy", "Antibody-drug conjugate (anti-HER2)", "TUZUMAB VEDOTIN"},
    {"Chemotherapy", "PARP inhibitor", "PARIB"},
    {"Chemotherapy", "Proteasome inhibitor", "ZOMIB"},
    {"Immunotherapy", "Checkpoint inhibitor (PD-1)", "LIMAB"},
    {"Immunotherapy", "Interleukin", "LEUKIN"},
    {"Hormone Therapy", "Aromatase inhibitor", "TROZOLE"},
    {"Hormone Therapy", "Antiandrogen", "LUTAMIDE"},
    {"Hormone Therapy", "GnRH agonist", "RELIN"},
    {"Ancillary", "Antiemetic (5-HT3 antagonist)", "SETRON"},
    {"Ancillary", "Growth factor (G-CSF)", "GRASTIM"},
    {"Ancillary", "Bisphosphonate", "DRONATE"},
};
const char* const kSyllables[] = {"A",  "BE", "CA", "DO", "E",  "FA", "GE", "HI", "I",  "JO",
                                  "KA", "LE", "MO", "NA", "O",  "PI", "QUI", "RA", "SE", "TO",
                                  "U",  "VA", "XE", "ZO", "BRI", "CRO", "DEL", "FLU", "GLA", "TRA"};
const char* const kRoutes[] = {"IV",           "Oral",         "IV; oral",        "Subcutaneous",
                               "IV; intrathecal", "IM; subcutaneous", "Intravesical", "Topical"};
const char* const kMechanisms[] = {
    "Alkylates and cross-links DNA",
    "Inhibits DNA synthesis by blocking thymidylate synthase",
    "Stabilises microtubules and stops cell division in mitosis",
    "Blocks the ATP-binding site of the receptor tyrosine kinase and its downstream signalling",
    "Binds the surface antigen and kills the cell through complement and antibody-dependent "
    "cytotoxicity",
    "Inhibits topoisomerase I and causes breaks in replicating DNA",
    "Lowers estrogen production by blocking aromatase in peripheral tissue",
    "Releases the brake on T cells by blocking the PD-1 receptor",
    "Blocks serotonin 5-HT3 receptors in the gut and the brain stem",
};
const char* const kSites[] = {"Breast",  "Lung",   "Colon and rectum", "Ovary",  "Prostate",
                              "Stomach", "Pancreas", "Non-Hodgkin lymphoma", "Hodgkin lymphoma",
                              "Leukemia", "Multiple myeloma", "Melanoma", "Kidney", "Bladder",
                              "Head and neck", "Soft tissue sarcoma", "Brain (glioma)", "Testis"};
const char* const kBrandStarts[] = {"Onco", "Cyto", "Tara", "Vel", "Ziv", "Nex", "Pro", "Lum",
                                    "Ari", "Quen", "Sol", "Ber"};
const char* const kBrandEnds[] = {"var", "lix", "tra", "dex", "mune", "stat", "zan", "ra", "vo",
                                  "tin"};
const char* const kCodingSentences[] = {
    "Code as chemotherapy: 02 (single agent) when it is the only chemotherapy drug given, 03 "
    "(multiagent) when it is given with another chemotherapy drug.",
    "Code as hormone therapy when it is given to treat the cancer.",
    "Code as immunotherapy (biological response modifier).",
    "Ancillary drug: it supports the patient during treatment and is not coded as treatment.",
};
const char* const kMoreSentences[] = {
    "It is usually given in cycles of 21 or 28 days.",
    "Dose adjustments for kidney or liver function do not change the coding.",
    "Given as part of a clinical trial, it is coded like the same drug given outside one.",
    "When it is started and stopped because of toxicity, the first course is still coded.",
    "Oral forms are taken at home; check the medication record for the start date.",
    "The letter of several regimens that combine it with a platinum compound.",
    "Maintenance given after the first course ends belongs to the first course when it was "
    "planned before treatment began.",
    "Check the coding manual in effect for the year of diagnosis.",
};
const char* const kNotes[] = {
    "Note: a drug given only for a non-cancer condition is not coded.",
    "Note: record the date the drug was first given, not the date it was ordered.",
    "Note: a biosimilar is coded exactly as the reference product.",
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Capitalised(const std::string& text) {
    std::string out = Lower(text);
    bool start = true;
    for (char& c : out) {
        if (start) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        start = c == ' ' || c == '-';
    }
    return out;
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) out += (i > 0 ? "; " : "") + items[i];
    return out;
}

std::string UniqueName(Random& random, const char* stem, std::set<std::string>& used) {
    for (int syllables = 2;; ++syllables) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            std::string name;
            for (int i = 0; i < syllables; ++i) name += random.Pick(kSyllables);
            name += stem;
            if (used.insert(name).second) return name;
        }
    }
}

// Sentences until at least lMinimum characters; between sentences, now and then, a line break
// before a note, which sends the text to the blob file.
std::string Remarks(Random& random, const char* first, int32_t lMinimum, bool lineBreaks) {
    std::string text = first;
    while (static_cast<int32_t>(text.size()) < lMinimum) {
        if (lineBreaks && random.Chance(15))
            text += std::string("\n") + random.Pick(kNotes);
        else
            text += std::string(" ") + random.Pick(kMoreSentences);
    }
    return text;
}

std::vector<std::string> DrugRow(Random& random, std::set<std::string>& used) {
    const Class& kind = random.Pick(kClasses);
    std::string category = kind.category;
    std::string generic = UniqueName(random, kind.stem, used);
    std::string lower = Lower(generic);

    std::vector<std::string> abbreviations;
    for (int i = random.Between(0, 2); i > 0; --i)
        abbreviations.push_back(generic.substr(0, 2) + "-" + std::to_string(random.Between(1, 999)));
    std::vector<std::string> brands;
    for (int i = random.Between(1, 3); i > 0; --i)
        brands.push_back(std::string(random.Pick(kBrandStarts)) + random.Pick(kBrandEnds));
    std::vector<std::string> nsc;
    if (random.Chance(50))
        for (int i = random.Between(1, 2); i > 0; --i)
            nsc.push_back(std::to_string(random.Between(100000, 799999)));
    std::vector<std::string> sites;
    if (category == "Ancillary") {
        sites.push_back("Supportive care (not site-specific)");
    } else {
        for (int i = random.Between(1, 6); i > 0; --i) sites.push_back(random.Pick(kSites));
    }
    std::vector<std::string> others = {lower + " hydrochloride", lower.substr(0, lower.size() - 1)};
    for (int i = random.Between(0, 3); i > 0; --i)
        others.push_back(lower.substr(1) + Lower(random.Pick(kSyllables)));

    const char* coding = category == "Chemotherapy"    ? kCodingSentences[0]
                         : category == "Hormone Therapy" ? kCodingSentences[1]
                         : category == "Immunotherapy"   ? kCodingSentences[2]
                                                         : kCodingSentences[3];
    std::string chemical =
        random.Chance(40) ? "EMPTY"
                          : lower + " " + std::to_string(random.Between(2, 9)) + "-(" +
                                Lower(random.Pick(kSyllables)) + "yl)-N,N-bis(2-chloroethyl)amine";
    return {
        category,
        kind.subcategory,
        random.Pick(kRoutes),
        random.Pick(kMechanisms),
        random.Chance(20) ? "EMPTY" : std::to_string(random.Between(1949, 2024)),
        generic,
        category == "Ancillary" ? "Ancillary, do not code" : category,
        random.Chance(10) ? "Immunotherapy (BRM) for cases diagnosed before 2013" : "EMPTY",
        abbreviations.empty() ? "EMPTY" : JoinList(abbreviations),
        JoinList(brands),
        chemical,
        nsc.empty() ? "EMPTY" : JoinList(nsc),
        JoinList(sites),
        JoinList(others),
        Remarks(random, coding, random.Between(120, 1400), true),
        random.Chance(60) ? "EMPTY" : Remarks(random, "", random.Between(40, 300), false).substr(1),
        kReviewed,
    };
}

TvTable NewTable(const char* sName, const char* const* columns, size_t count) {
    TvTable table;
    table.fileName = sName;
    table.columns.assign(columns, columns + count);
    return table;
}

void AddRow(TvTable& table, std::vector<std::string> row) {
    table.rows.push_back(std::move(row));
    // The line the row would have in the table's text form.
    table.lines.push_back(static_cast<int32_t>(table.rows.size()) + 1);
}

void CheckCount(int32_t lRecords) {
    if (lRecords < 1 || lRecords > kMaxDataSetRecords)
        KxGenerateException("A data set holds 1 to %d records (the version record included), "
                            "not %d",
                            kClass, kMaxDataSetRecords, lRecords);
}

} // namespace

TvTable GenerateDrugTable(int32_t lRecords, uint64_t seed) {
    KX_TRY
        CheckCount(lRecords);
        TvTable table = NewTable("generated drugs", kDrugColumns, std::size(kDrugColumns));
        std::vector<std::string> version(table.columns.size(), "EMPTY");
        version[0] = "Tarvio drug data set";
        version[1] = DataVersion;
        version[5] = "DATA VERSION RECORD";
        version[16] = kReviewed;
        AddRow(table, version);
        Random random(seed);
        std::set<std::string> used;
        while (static_cast<int32_t>(table.rows.size()) < lRecords)
            AddRow(table, DrugRow(random, used));
        return table;
    KX_CATCH_STD("GenerateDrugTable()", kClass)
}

TvTable GenerateRegimenTable(const TvTable& drugs, int32_t lRecords, uint64_t seed) {
    KX_TRY
        CheckCount(lRecords);
        if (drugs.rows.size() < 2)
            KxGenerateException("Regimens need a drug table with drugs", kClass);
        TvTable table = NewTable("generated regimens", kRegimenColumns, std::size(kRegimenColumns));
        AddRow(table, {"Tarvio regimen data set", DataVersion, "EMPTY", "DATA VERSION RECORD",
                       "EMPTY", kReviewed});
        Random random(seed ^ 0x5245474Dull);
        std::set<std::string> names;
        while (static_cast<int32_t>(table.rows.size()) < lRecords) {
            std::vector<std::string> drugNames, codes, spelled;
            std::string acronym;
            for (int i = random.Between(2, 5); i > 0; --i) {
                size_t r = 1 + random.Next() % (drugs.rows.size() - 1);
                std::string name = Capitalised(drugs.rows[r][5]);
                drugNames.push_back(random.Chance(10) ? "High-dose " + name : name);
                codes.push_back(drugs.rows[r][6]);
                spelled.push_back(Lower(drugs.rows[r][5]));
                acronym += name[0];
            }
            std::string name = acronym;
            for (int n = 2; !names.insert(name).second; ++n) name = acronym + "-" + std::to_string(n);
            AddRow(table, {name, JoinList(drugNames), JoinList(codes),
                           "Combination of " + JoinList(spelled),
                           JoinList({random.Pick(kSites), random.Pick(kSites)}),
                           random.Chance(70) ? "EMPTY" : random.Pick(kNotes)});
        }
        return table;
    KX_CATCH_STD("GenerateRegimenTable()", kClass)
}
