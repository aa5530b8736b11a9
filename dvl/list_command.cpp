// dvl l: the directory of any archive the lister reads, one line per entry.
#include "archive/dates.h"
#include "archive/errors.h"
#include "archive/extract/listing.h"
#include "archive/extract/source.h"
#include "archive/extract/stream_source.h"
#include "archive/lister/lorvex.h"
#include "archive/name_code_page.h"
#include "archive/text.h"
#include "dvl/commands.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/times.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace dvl::cli {

namespace {

enum class Format { Text, Tsv, Json };

struct ListOptions {
    std::string spec = "*.*";
    bool blankDirs = false;
    Format format = Format::Text;
    std::string archive;
};

bool ParseOptions(const std::vector<std::string>& args, ListOptions& options) {
    bool formatGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--spec") {
            if (i + 1 >= args.size()) return false;
            options.spec = args[++i];
        } else if (a == "--blank-dirs") {
            options.blankDirs = true;
        } else if (a == "--codepage") {
            if (i + 1 >= args.size() || !platform::SetOemCodePage(args[++i])) return false;
        } else if (a == "--tsv" || a == "--json") {
            if (formatGiven) return false;
            formatGiven = true;
            options.format = a == "--tsv" ? Format::Tsv : Format::Json;
        } else if ((a.size() > 1 && a[0] == '-') || !options.archive.empty()) {
            return false;
        } else {
            options.archive = a;
        }
    }
    return !options.archive.empty();
}

// One listed entry, its fields as printed.
struct Row {
    std::string name, date;
    int64_t packed, unpacked;
    unsigned ratio;
    std::string method;
    uint32_t crc, attributes;
};

Row TakeRow(const TLorvex& l) {
    const platform::DateTimeFields f = platform::DecodeDateTime(l.FileDate);
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day,
                  f.hour, f.minute, f.second);
    return {l.FileName, date,         l.PackedSize, l.UnpackedSize,
            l.Ratio,    l.MethodName, l.CRC,        l.ExternalAttr};
}

// A row of an entry listed through the extraction layer.
Row LayerRow(const extract::Entry& entry, uint64_t unpacked) {
    const double dateValue =
        entry.modified ? platform::DateValueFromUnix(*entry.modified) : kDosEpochDateValue;
    const platform::DateTimeFields f = platform::DecodeDateTime(dateValue);
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day,
                  f.hour, f.minute, f.second);
    const int64_t packed = int64_t(entry.packedSize);
    return {entry.name,
            date,
            packed,
            int64_t(unpacked),
            ComputeRatio(packed, int64_t(unpacked)),
            entry.method,
            entry.check == extract::CheckKind::None ? 0 : entry.checkValue,
            entry.attributes};
}

// A TAR inside a compressed stream, and the compressors that have no type
// of their own, are listed by the extraction layer: their entries show only
// once the stream is decoded.
bool ListsThroughLayer(TArcType type, const std::string& path) {
    if (type == atGZip) return extract::StreamHoldsTar(path, 0);
    if (type != atUnknown && type != atNA && type != atUnsupported) return false;
    return extract::DetectStream(path, 0) != extract::StreamKind::None;
}

// Stored names may hold any byte; control characters would break the lines.
std::string Printable(std::string text) {
    for (char& c : text)
        if (uint8_t(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

// Length of the well-formed UTF-8 sequence at text[i], or 0.
size_t Utf8Length(const std::string& text, size_t i) {
    const auto b = [&](size_t k) { return uint8_t(text[k]); };
    const uint8_t c = b(i);
    size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((b(i + k) & 0xC0) != 0x80) return 0;
    // No overlong forms, surrogates or values beyond U+10FFFF.
    if ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xED && b(i + 1) >= 0xA0) ||
        (c == 0xF0 && b(i + 1) < 0x90) || (c == 0xF4 && b(i + 1) >= 0x90))
        return 0;
    return n;
}

// A JSON string; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const uint8_t c = uint8_t(text[i]);
        if (c >= 0x80) {
            const size_t n = Utf8Length(text, i);
            out += n ? text.substr(i, n) : "\xEF\xBF\xBD";
            i += n ? n : 1;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += char(c);
        }
        ++i;
    }
    return out + "\"";
}

void PrintTextRow(const Row& r) {
    std::printf("%s %12" PRId64 " %12" PRId64 " %3u%% %-8s %08X %10u  %s\n", r.date.c_str(),
                r.packed, r.unpacked, r.ratio, r.method.c_str(), r.crc, r.attributes,
                Printable(r.name).c_str());
}

void PrintTsvRow(const Row& r) {
    std::printf("%s\t%s\t%" PRId64 "\t%" PRId64 "\t%u\t%s\t%08X\t%u\n", Printable(r.name).c_str(),
                r.date.c_str(), r.packed, r.unpacked, r.ratio, r.method.c_str(), r.crc,
                r.attributes);
}

std::string JsonRow(const Row& r) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  "\"packed\":%" PRId64 ",\"unpacked\":%" PRId64
                  ",\"ratio\":%u,\"crc\":\"%08X\",\"attributes\":%u",
                  r.packed, r.unpacked, r.ratio, r.crc, r.attributes);
    return "{\"name\":" + JsonString(r.name) + ",\"date\":" + JsonString(r.date) + "," + numbers +
           ",\"method\":" + JsonString(r.method) + "}";
}

struct Totals {
    int32_t files;
    int64_t packed, unpacked;
    unsigned ratio;
};

// Failures of the archive as a whole, as opposed to one of its entries or volumes.
bool IsArchiveLevel(int32_t code) {
    return code == kErrUnknownFileType || code == kErrHeaderId || code == kErrReadingFile;
}

void PrintError(int32_t code, const std::string& file) {
    std::fprintf(stderr, "%d %s (%s)\n", code, ErrorMessage(code).c_str(), file.c_str());
}

// Asks on the terminal for a volume that is not where the set says.
void AskForVolume(std::string& dir, std::string& fn, const std::string& volume, bool& cancel) {
    const std::string disk = volume.empty() ? std::string() : " (disk " + volume + ")";
    std::fprintf(stderr,
                 "The next volume %s%s is not in %s.\nIts path, or nothing to stop: ", fn.c_str(),
                 disk.c_str(), platform::ToNativeSpelling(dir).c_str());
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line) || line.empty()) {
        cancel = true;
        return;
    }
    // The lister takes the file name from the folder it is given back.
    const std::string path = ComponentPath(line);
    dir = platform::DirectoryExists(path) ? AddBackslash(path) : path;
}

} // namespace

int ListCommand(const std::vector<std::string>& args) {
    ListOptions options;
    if (!ParseOptions(args, options)) {
        std::fputs("usage: dvl l [--spec MASK] [--blank-dirs] [--codepage CP] [--tsv|--json] "
                   "ARCHIVE\n",
                   stderr);
        return kExitUsage;
    }
    int status = kExitOk;
    std::vector<Row> rows;
    std::optional<Totals> totals;

    TLorvex lister(nullptr);
    lister.SetZipCmntBufSize(2000);
    lister.SetFileSpec(options.spec);
    lister.SetShowBlankDirs(options.blankDirs);
    lister.OnError = [&](TZipCommon*, const std::string& fn, const std::string&, int32_t code) {
        PrintError(code, fn);
        status = std::max(status, IsArchiveLevel(code) ? int(kExitUsage) : int(kExitEntryFailed));
    };
    lister.OnRead = [&](TZipCommon*, int32_t, int32_t) {
        Row row = TakeRow(lister);
        if (options.format == Format::Text) PrintTextRow(row);
        if (options.format == Format::Tsv) PrintTsvRow(row);
        if (options.format == Format::Json) rows.push_back(std::move(row));
    };
    lister.OnTotals = [&](TZipCommon*, int32_t files) {
        totals = Totals{files, lister.TotalPacked, lister.TotalUnpacked, lister.TotalRatio};
    };
    if (isatty(STDIN_FILENO)) {
        lister.OnNextVolume = [&](TZipCommon*, std::string& dir, std::string& fn,
                                  const std::string& volume, bool& cancel) {
            AskForVolume(dir, fn, volume, cancel);
            if (cancel) {
                PrintError(kErrFileNotFound, fn);
                status = std::max(status, int(kExitEntryFailed));
            }
        };
    }

    const std::string path = ComponentPath(options.archive);
    try {
        lister.SetArchiveFile(path);
    } catch (const std::exception&) {
        PrintError(kErrReadingFile, options.archive);
        return kExitUsage;
    }
    if (lister.ArcType() == atFileError) {
        PrintError(kErrOpeningFile, options.archive);
        return kExitUsage;
    }
    if (IsRarArchive(lister.ArcType(), path))
        return RarCommand(options.archive, path, LibraryOperation::List, "", "");
    if (IsAceArchive(lister.ArcType(), path))
        return AceCommand(options.archive, path, LibraryOperation::List, "", "");
    if (ListsThroughLayer(lister.ArcType(), path)) {
        const auto source = extract::MakeEntrySource(lister.ArcType(), path, lister.StartOffset());
        totals = Totals{0, 0, 0, 0};
        extract::ListingEvents events;
        events.entry = [&](const extract::Entry& entry, uint64_t unpacked) {
            Row row = LayerRow(entry, unpacked);
            ++totals->files;
            totals->packed += row.packed;
            totals->unpacked += row.unpacked;
            if (options.format == Format::Text) PrintTextRow(row);
            if (options.format == Format::Tsv) PrintTsvRow(row);
            if (options.format == Format::Json) rows.push_back(std::move(row));
        };
        events.row = [&](int32_t code, const std::string& name) {
            PrintError(code, name);
            status = std::max(status, int(kExitEntryFailed));
        };
        extract::Listing listing(options.archive, options.spec, options.blankDirs, events);
        source->Walk(listing);
        totals->ratio = ComputeRatio(totals->packed, totals->unpacked);
    } else {
        const ArchiveCodePage codePage(path);
        lister.SetArchiveFile(path); // back in the archive's folder after the guess
        if (!lister.Activate()) status = std::max(status, int(kExitEntryFailed));
    }

    if (options.format == Format::Text && totals) {
        std::printf("%d files, %" PRId64 " packed, %" PRId64 " unpacked, %u%% saved\n",
                    totals->files, totals->packed, totals->unpacked, totals->ratio);
    }
    if (options.format == Format::Json) {
        std::string out = "{\"archive\":" + JsonString(options.archive) + ",\"entries\":[";
        for (size_t i = 0; i < rows.size(); ++i)
            out += (i ? "," : "") + JsonRow(rows[i]);
        out += "],\"totals\":";
        if (totals) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "{\"files\":%d,\"packed\":%" PRId64 ",\"unpacked\":%" PRId64
                          ",\"ratio\":%u}",
                          totals->files, totals->packed, totals->unpacked, totals->ratio);
            out += text;
        } else {
            out += "null";
        }
        std::printf("%s}\n", out.c_str());
    }
    return status;
}

} // namespace dvl::cli
