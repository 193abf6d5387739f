#include "support/ZipBuilder.h"

#include <stdexcept>
#include <zip.h>

namespace jarseal::test {

void WriteZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
    int err = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (za == nullptr)
        throw std::runtime_error("cannot create " + path);
    for (const auto& [name, content] : entries) {
        zip_source_t* src = zip_source_buffer(za, content.data(), content.size(), 0);
        if (src == nullptr || zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_RAW | ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(src);
            zip_discard(za);
            throw std::runtime_error("cannot add " + name);
        }
    }
    if (zip_close(za) != 0) {
        zip_discard(za);
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace jarseal::test
