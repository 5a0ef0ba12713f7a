#include "tvtable.h"

#include <cctype>
#include <cstdio>
#include <set>

#include "kxexception.h"
#include "kxio.h"
#include "tvcodepage.h"

namespace {

constexpr const char* kSource = "ReadTable";
constexpr const char* kClass = "TvTable";

[[noreturn]] void Fail(const char* sFileName, int32_t lLine, const std::string& what) {
    KxGenerateException("%s:%d: %s", kSource, sFileName, lLine, what.c_str());
}

std::string Printf(const char* format, ...) KX_PRINTF(1, 2);
std::string Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char buffer[512];
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

bool IsControl(unsigned char byte) {
    // Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D are the control characters of the same number.
    return byte < 0x20 || byte == 0x7F || byte == 0x81 || byte == 0x8D || byte == 0x8F ||
           byte == 0x90 || byte == 0x9D;
}

// Column names become field names in the structure file, where keys and values lose their
// blanks and '=' splits a line; field names are looked up without regard to case.
void CheckColumnNames(const std::vector<std::string_view>& names, const char* sFileName) {
    std::set<std::string> seen;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string_view name = names[i];
        if (name.empty()) Fail(sFileName, 1, Printf("column %zu has no name", i + 1));
        for (char c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.')
                Fail(sFileName, 1,
                     Printf("column name \"%.*s\" may hold only ASCII letters, digits, '_', '-' "
                            "and '.'",
                            static_cast<int>(name.size()), name.data()));
        }
        std::string folded(name);
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!seen.insert(folded).second)
            Fail(sFileName, 1,
                 Printf("column name \"%.*s\" occurs twice", static_cast<int>(name.size()),
                        name.data()));
    }
}

// The field's text in Windows-1252 with "\n" turned into line feeds.
std::string ConvertField(std::string_view utf8, const char* sFileName, int32_t lLine,
                         const std::string& column) {
    std::string text;
    try {
        text = Utf8ToCp1252(utf8);
    } catch (KxException& e) {
        std::string prefix = Printf("%s:%d: column %s: ", sFileName, lLine, column.c_str());
        e.AddToErrorMessage(prefix.c_str(), true);
        throw;
    }
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (IsControl(byte))
            Fail(sFileName, lLine,
                 Printf("column %s: control character U+%04X at character %zu", column.c_str(),
                        static_cast<unsigned>(UnicodeFromCp1252(byte)), i + 1));
        if (byte == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

} // namespace

bool IsVersionText(std::string_view text) {
    bool digitBefore = false;
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digitBefore = true;
        } else if (c == '.' && digitBefore) {
            digitBefore = false;
        } else {
            return false;
        }
    }
    return digitBefore;
}

TvTable ParseTable(std::string_view text, const char* sFileName, const TvTableShape& shape) {
    KX_TRY
        TvTable table;
        table.fileName = sFileName;
        if (text.empty()) Fail(sFileName, 1, "the file is empty; the header line is missing");
        if (text.substr(0, 3) == "\xEF\xBB\xBF")
            Fail(sFileName, 1, "the file begins with a byte order mark");

        int32_t lineNumber = 0;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            std::string_view line = text.substr(start, end - start);
            start = end + 1;
            ++lineNumber;
            if (!line.empty() && line.back() == '\r')
                Fail(sFileName, lineNumber, "the line ends with a carriage return; lines must end "
                                            "with a line feed only");

            std::vector<std::string_view> fields = SplitTabs(line);
            if (lineNumber == 1) {
                int32_t count = static_cast<int32_t>(fields.size());
                if (count < shape.minColumns || count > shape.maxColumns) {
                    std::string wanted =
                        shape.minColumns == shape.maxColumns
                            ? Printf("%d", shape.minColumns)
                            : Printf("%d to %d", shape.minColumns, shape.maxColumns);
                    Fail(sFileName, 1,
                         Printf("the header names %d columns; this table needs %s", count,
                                wanted.c_str()));
                }
                CheckColumnNames(fields, sFileName);
                for (std::string_view name : fields) table.columns.emplace_back(name);
                continue;
            }

            if (fields.size() != table.columns.size())
                Fail(sFileName, lineNumber,
                     Printf("%zu fields, but the header names %zu columns", fields.size(),
                            table.columns.size()));
            if (static_cast<int32_t>(table.rows.size()) == kMaxDataSetRecords)
                Fail(sFileName, lineNumber,
                     Printf("more than %d records; a data set holds at most %d, the version "
                            "record included",
                            kMaxDataSetRecords, kMaxDataSetRecords));
            std::vector<std::string> row;
            row.reserve(fields.size());
            for (size_t i = 0; i < fields.size(); ++i)
                row.push_back(ConvertField(fields[i], sFileName, lineNumber, table.columns[i]));
            table.rows.push_back(std::move(row));
            table.lines.push_back(lineNumber);
        }

        if (table.rows.empty())
            Fail(sFileName, 2, "the version record is missing: the table has no record");
        if (!IsVersionText(table.rows[0][1]))
            Fail(sFileName, table.lines[0],
                 Printf("the first record is not the version record: column %s holds \"%s\" "
                        "where a data version such as 1.2.0 belongs",
                        table.columns[1].c_str(), Cp1252ToUtf8(table.rows[0][1]).c_str()));
        return table;
    KX_CATCH_STD("ParseTable()", kClass)
}

TvTable ReadTable(const char* sFileName, const TvTableShape& shape) {
    KX_TRY
        std::string text;
        {
            KxIO file(sFileName, kxIORead);
            char buffer[65536];
            for (;;) {
                uint32_t n = file.Read(buffer, sizeof buffer, false);
                if (n == 0) break;
                text.append(buffer, n);
            }
            file.Close();
        }
        return ParseTable(text, sFileName, shape);
    KX_CATCH_STD("ReadTable()", kClass)
}

std::string FormatTableLine(const std::vector<std::string>& fields) {
    KX_TRY
        std::string line;
        for (size_t f = 0; f < fields.size(); ++f) {
            if (f > 0) line += '\t';
            const std::string& text = fields[f];
            for (size_t i = 0; i < text.size(); ++i) {
                unsigned char byte = static_cast<unsigned char>(text[i]);
                if (byte == '\n') {
                    line += "\\n";
                    continue;
                }
                if (IsControl(byte))
                    KxGenerateException("field %zu holds the control character U+%04X, which a "
                                        "table line cannot carry",
                                        kClass, f, static_cast<unsigned>(UnicodeFromCp1252(byte)));
                if (byte == '\\' && i + 1 < text.size() && text[i + 1] == 'n')
                    KxGenerateException("field %zu holds a backslash before an n, which a table "
                                        "would read back as a line break",
                                        kClass, f);
                line += static_cast<char>(byte);
            }
        }
        line += '\n';
        return Cp1252ToUtf8(line);
    KX_CATCH_STD("FormatTableLine()", kClass)
}
