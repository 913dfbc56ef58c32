#include "study/Animals.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "app/ReplaceFile.h"
#include "study/Csv.h"

namespace hx {

namespace {

std::string trimmed(const std::string& s) {
    const auto a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

}  // namespace

std::vector<std::string> AnimalsTable::standardColumns() {
    return {"Animal No", "Group", "Sex", "Date of birth", "Notes", "Species"};
}

std::map<std::string, std::string> AnimalsTable::species() const {
    std::map<std::string, std::string> out;
    if (!column("Species")) return out;
    for (const auto& r : rows) {
        std::string name = trimmed(field(r, "Species"));
        if (!name.empty()) out.emplace(field(r, "Animal No"), std::move(name));
    }
    return out;
}

std::optional<std::size_t> AnimalsTable::column(std::string_view name) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (trimmed(columns[i]) == name) return i;
    return std::nullopt;
}

std::string AnimalsTable::field(const AnimalsRow& row, std::string_view name) const {
    const auto c = column(name);
    return c && *c < row.fields.size() ? trimmed(row.fields[*c]) : std::string();
}

std::map<std::string, std::string> AnimalsTable::groups() const {
    std::map<std::string, std::string> out;
    for (const auto& r : rows) {
        const std::string group = field(r, "Group");
        out.emplace(field(r, "Animal No"), group.empty() ? kNoGroup : group);
    }
    return out;
}

std::vector<std::string> AnimalsTable::groupOrder() const {
    std::vector<std::string> order;
    for (const auto& r : rows) {
        std::string group = field(r, "Group");
        if (group.empty()) group = kNoGroup;
        if (std::find(order.begin(), order.end(), group) == order.end()) order.push_back(group);
    }
    return order;
}

std::string AnimalsTable::firstProblem() const {
    if (!headerProblem.empty()) return "line 1: " + headerProblem;
    if (damaged.empty()) return {};
    return "line " + std::to_string(damaged.front().line) + ": " + damaged.front().reason;
}

AnimalsTable parseAnimals(std::string_view text) {
    AnimalsTable table;
    // A spreadsheet's byte-order mark, also doubled by a round trip through another program: left,
    // the second one would stick to the first column's name and a save would drop it.
    while (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    auto records = parseCsvRecords(text);
    if (records.empty()) {
        table.columns = AnimalsTable::standardColumns();
        return table;
    }
    table.columns = records.front().fields;
    // A mark after blank lines stays in the header's first name: it is no part of it.
    while (!table.columns.empty() && table.columns[0].rfind("\xEF\xBB\xBF", 0) == 0)
        table.columns[0].erase(0, 3);
    if (!table.column("Animal No")) {
        table.headerProblem = "the header has no \"Animal No\" column";
        for (auto& r : records)
            table.damaged.push_back({r.line, r.text, "not read: the header is not understood"});
        return table;
    }
    const std::size_t idColumn = *table.column("Animal No");
    std::map<std::string, std::size_t> seen;
    for (std::size_t k = 1; k < records.size(); ++k) {
        auto& r = records[k];
        std::string reason;
        bool blank = true;
        for (const auto& f : r.fields) blank = blank && trimmed(f).empty();
        if (blank) continue;
        if (r.quoteOpen) {
            reason = "a quote is not closed";
        } else if (r.fields.size() > table.columns.size()) {
            reason = std::to_string(r.fields.size()) + " fields, the header has " +
                     std::to_string(table.columns.size());
        } else if (idColumn >= r.fields.size() || trimmed(r.fields[idColumn]).empty()) {
            reason = "no animal number";
        } else if (auto it = seen.find(trimmed(r.fields[idColumn])); it != seen.end()) {
            reason = "animal " + it->first + " is listed already on line " + std::to_string(it->second);
        }
        if (!reason.empty()) {
            table.damaged.push_back({r.line, r.text, reason});
            continue;
        }
        seen.emplace(trimmed(r.fields[idColumn]), r.line);
        // A spreadsheet may leave out empty fields at the end of a row.
        r.fields.resize(table.columns.size());
        table.rows.push_back({std::move(r.fields), r.line});
    }
    return table;
}

AnimalsTable readAnimals(const std::string& folder, std::string& reason) {
    std::string text;
    bool missing = false;
    if (!readWholeFile(joinFolder(folder, kAnimalsFileName), text, reason, &missing)) {
        if (missing) {
            reason.clear();
            return parseAnimals("");
        }
        AnimalsTable none;
        none.columns = AnimalsTable::standardColumns();
        return none;
    }
    return parseAnimals(text);
}

std::string formatAnimals(const AnimalsTable& table) {
    std::string out = csvLine(table.columns);
    for (const auto& r : table.rows) {
        auto fields = r.fields;
        fields.resize(table.columns.size());
        out += csvLine(fields);
    }
    return out;
}

std::string saveAnimals(const std::string& folder, const AnimalsTable& table) {
    const std::string path = joinFolder(folder, kAnimalsFileName);
    if (!table.headerProblem.empty() || !table.damaged.empty())
        return kAnimalsFileName + std::string(" ") + table.firstProblem() +
               ": mend it in a spreadsheet first, saving would lose it";
    std::string text, reason;
    bool missing = false;
    if (readWholeFile(path, text, reason, &missing)) {
        const AnimalsTable onDisk = parseAnimals(text);
        if (!onDisk.firstProblem().empty())
            return kAnimalsFileName + std::string(" ") + onDisk.firstProblem() +
                   ": mend it in a spreadsheet first, saving would lose it";
    } else if (!missing) {
        return kAnimalsFileName + std::string(": ") + reason;
    }
    std::set<std::string> ids;
    for (const auto& r : table.rows) {
        const std::string id = table.field(r, "Animal No");
        if (id.empty()) return "a row has no animal number";
        if (!ids.insert(id).second) return "animal " + id + " is listed twice";
    }
    const std::string out = formatAnimals(table);
    const auto result = replaceFileContents(
        path, {reinterpret_cast<const std::uint8_t*>(out.data()), out.size()}, IfExists::kReplace);
    if (!result.ok()) return kAnimalsFileName + std::string(": ") + std::strerror(result.error);
    return {};
}

}  // namespace hx
