// Checks JSON that quillon-cli printed against the schemas of docs/schema/,
// through scripts/validate-json.py (python3-jsonschema): many texts in one
// run of the validator, since starting Python costs more than checking.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillon::test {

// For each (schema name, text) pair — "mx" for docs/schema/mx.json, the text
// a stream of JSON values — the problems found, or empty text when every
// value is valid. A validator that cannot run gives its output for each.
std::vector<std::string> SchemaProblems(
    const std::vector<std::pair<std::string, std::string>>& items);

// The same for one text.
std::string SchemaProblems(const std::string& schema, const std::string& text);

}  // namespace quillon::test
