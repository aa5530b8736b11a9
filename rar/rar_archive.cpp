#include "rar/rar_archive.h"

#include "archive/text.h"

#define _UNIX 1
#include <unrar/dll.hpp>

#include <clocale>
#include <cstring>
#include <locale.h>
#include <memory>
#include <vector>

namespace dvl::rar {

namespace {

// The library's callbacks carry no context; they are called synchronously
// from inside the library call of this thread's current archive.
thread_local Archive* tCurrent = nullptr;

// The library turns wide names into multibyte ones (to create files, to
// pass volume names) by the thread's locale. Names are UTF-8 text here, so
// its calls run under a UTF-8 character type whatever the process's locale.
locale_t Utf8Locale() {
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
        if (l == locale_t(0)) l = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", locale_t(0));
        return l;
    }();
    return loc;
}

// The archive whose library call runs now, and the locale for that call.
class CurrentArchive {
public:
    explicit CurrentArchive(Archive* a) : previous_(tCurrent) {
        tCurrent = a;
        if (Utf8Locale() != locale_t(0)) savedLocale_ = uselocale(Utf8Locale());
    }
    ~CurrentArchive() {
        if (savedLocale_ != locale_t(0)) uselocale(savedLocale_);
        tCurrent = previous_;
    }
    CurrentArchive(const CurrentArchive&) = delete;
    CurrentArchive& operator=(const CurrentArchive&) = delete;

private:
    Archive* previous_;
    locale_t savedLocale_ = locale_t(0);
};

// A zero-terminated wide field of fixed size, read no further than its end.
std::string WideField(const wchar_t* field, size_t size) {
    std::wstring text(field, size);
    text.resize(std::wcslen(text.c_str()));
    return WideToUtf8(text.c_str());
}

// Symbolic links and junctions by their redirection type, and the Unix
// links of archives whose headers carry no such type by their mode.
bool IsLinkEntry(const RARHeaderDataEx& data) {
    constexpr unsigned kUnixSymlink = 1, kWindowsSymlink = 2, kJunction = 3;
    constexpr unsigned kHostUnix = 3;
    if (data.RedirType == kUnixSymlink || data.RedirType == kWindowsSymlink ||
        data.RedirType == kJunction)
        return true;
    return data.HostOS == kHostUnix && (data.FileAttr & 0170000) == 0120000;
}

} // namespace

struct Trampolines {
    static int PASCAL ChangeVolume(char* arcName, int mode) {
        Archive* a = tCurrent;
        if (a == nullptr || !a->changeVolume_) return mode == RAR_VOL_ASK ? 0 : 1;
        return a->changeVolume_(std::string(arcName ? arcName : ""), mode);
    }
    static int PASCAL ProcessData(unsigned char* addr, int size) {
        Archive* a = tCurrent;
        if (a == nullptr || !a->processData_) return 1;
        return a->processData_(addr, size);
    }
};

std::string WideToUtf8(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text)
        AppendUtf8(out, uint32_t(*text));
    return out;
}

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        char32_t c = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if (!ok) {
            out += wchar_t(0xFFFD);
            ++i;
            continue;
        }
        out += wchar_t(c);
        i += len;
    }
    return out;
}

int Archive::Open(const std::string& path, int openMode) {
    Close();
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    std::wstring wide = Utf8ToWide(path);
    RAROpenArchiveDataEx data{};
    data.ArcName = name.data();
    // The wide name decides on this platform, whatever the process's locale.
    data.ArcNameW = wide.data();
    data.OpenMode = unsigned(openMode);
    data.CmtBuf = nullptr;
    data.CmtBufSize = 0;
    {
        CurrentArchive current(this);
        handle_ = RAROpenArchiveEx(&data);
    }
    if (data.OpenResult != 0 && handle_ != nullptr) Close();
    if (data.OpenResult == 0 && handle_ == nullptr) return ERAR_NO_MEMORY;
    return int(data.OpenResult);
}

void Archive::SetChangeVolumeProc(ChangeVolumeProc proc) {
    changeVolume_ = std::move(proc);
    if (handle_) RARSetChangeVolProc(handle_, &Trampolines::ChangeVolume);
}

void Archive::SetProcessDataProc(ProcessDataProc proc) {
    processData_ = std::move(proc);
    if (handle_) RARSetProcessDataProc(handle_, &Trampolines::ProcessData);
}

void Archive::SetPassword(const std::string& password) {
    if (!handle_) return;
    std::vector<char> pw(password.begin(), password.end());
    pw.push_back('\0');
    CurrentArchive current(this);
    RARSetPassword(handle_, pw.data());
}

int Archive::ReadHeader(Header& header) {
    if (!handle_) return ERAR_BAD_ARCHIVE;
    CurrentArchive current(this);
    // The record is large (about 15 KB); keep it off the stack.
    auto data = std::make_unique<RARHeaderDataEx>();
    std::memset(data.get(), 0, sizeof(RARHeaderDataEx));
    // The library reports a link's type only along with its target.
    std::vector<wchar_t> redirName(1024);
    data->RedirName = redirName.data();
    data->RedirNameSize = unsigned(redirName.size());
    const int r = RARReadHeaderEx(handle_, data.get());
    if (r != 0) return r;
    header.ArcName = WideField(data->ArcNameW, std::size(data->ArcNameW));
    header.FileName = WideField(data->FileNameW, std::size(data->FileNameW));
    header.UnpSize = data->UnpSize;
    header.UnpSize64 = (uint64_t(data->UnpSizeHigh) << 32) | data->UnpSize;
    header.PackSize64 = (uint64_t(data->PackSizeHigh) << 32) | data->PackSize;
    header.Flags = data->Flags;
    header.FileCRC = data->FileCRC;
    header.FileTime = data->FileTime;
    header.FileAttr = data->FileAttr;
    header.IsLink = IsLinkEntry(*data);
    return 0;
}

int Archive::ProcessFile(int operation, const std::string& destFolder) {
    if (!handle_) return ERAR_BAD_ARCHIVE;
    CurrentArchive current(this);
    std::wstring dest = Utf8ToWide(destFolder);
    return RARProcessFileW(handle_, operation, dest.empty() ? nullptr : dest.data(), nullptr);
}

void Archive::Close() {
    if (!handle_) return;
    CurrentArchive current(this);
    RARCloseArchive(handle_);
    handle_ = nullptr;
}

} // namespace dvl::rar
