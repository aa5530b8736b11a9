#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sys/mount.h>
#include <sys/wait.h>

namespace dvl::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device rd;
    for (;;) {
        path_ = fs::temp_directory_path() / ("dvl-test-" + std::to_string(rd()));
        if (fs::create_directory(path_)) break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only files and folders must not keep the folder alive.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

SmallDisk::SmallDisk(size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ =
        ::mount("tmpfs", dir_.Path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(dir_.Path().c_str(), MNT_DETACH);
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteFile(const fs::path& path, const std::string& text) {
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const fs::path& path) {
    const std::vector<uint8_t> bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

void PutLe16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

const std::string& DvlProgram() {
    static const std::string path = std::string(DVL_BIN_DIR) + "/dvl";
    return path;
}

std::string Quote(const fs::path& path) {
    std::string out = "'";
    for (char c : path.string()) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

bool HaveTool(const std::string& name) {
    return Run("command -v " + name + " >/dev/null 2>&1") == 0;
}

int Run(const std::string& commandLine, const fs::path& workDir) {
    std::string line = commandLine;
    if (!workDir.empty()) line = "cd " + Quote(workDir) + " && " + line;
    int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> GzipDecode(const std::vector<uint8_t>& stream, int* status) {
    TempDir dir;
    WriteFile(dir / "in", stream);
    const std::string text =
        RunAndCapture("gzip -dc < " + Quote(dir / "in") + " 2>/dev/null", status);
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string RunAndCapture(const std::string& commandLine, int* status) {
    std::string out;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + commandLine);
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        out.append(buffer.data(), n);
    int rc = pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

bool MakeStringTablePe(const fs::path& out,
                       const std::vector<std::pair<int, std::string>>& strings) {
    if (!HaveTool("x86_64-w64-mingw32-windres") || !HaveTool("x86_64-w64-mingw32-ld")) return false;
    fs::path rc = out.string() + ".rc", obj = out.string() + ".o";
    std::string text = "STRINGTABLE\nBEGIN\n";
    for (const auto& [id, s] : strings)
        text += "  " + std::to_string(id) + " \"" + s + "\"\n";
    WriteFile(rc, text + "END\n");
    // No C preprocessor is installed for the cross tools; the script needs none.
    int rc1 = Run("x86_64-w64-mingw32-windres --preprocessor=cat " + Quote(rc) + " -O coff -o " +
                  Quote(obj));
    int rc2 = rc1 == 0 ? Run("x86_64-w64-mingw32-ld --dll -e 0 -o " + Quote(out) + " " + Quote(obj))
                       : rc1;
    fs::remove(rc);
    fs::remove(obj);
    return rc2 == 0;
}

fs::path PeerFixtures() {
    fs::path p = DVL_PEER_FIXTURES;
    if (p.empty() || !fs::is_directory(p)) return {};
    return p;
}

} // namespace dvl::test
