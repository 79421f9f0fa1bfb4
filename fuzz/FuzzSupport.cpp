#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {
struct Folder {
    std::string path;

    Folder()
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillon-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = pattern;
    }
    ~Folder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};
} // namespace

const std::string &FuzzFolder()
{
    static const Folder folder;
    return folder.path;
}

std::string WriteFuzzFile(std::string_view name, std::string_view bytes)
{
    const std::string path = FuzzFolder() + "/" + std::string(name);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    FuzzCheck(file.good(), "the input could be written to " + path);
    return path;
}

void FuzzCheck(bool condition, std::string_view what)
{
    if (condition)
        return;
    std::fprintf(stderr, "FUZZ CHECK FAILED: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}
