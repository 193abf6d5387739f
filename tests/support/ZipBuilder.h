#pragma once

#include <string>
#include <utility>
#include <vector>

namespace jarseal::test {

// Writes a zip archive with the given (name, content) entries, deflated, in
// this order.
void WriteZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries);

} // namespace jarseal::test
