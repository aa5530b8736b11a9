#include "unace/volume_names.h"

#include "archive/text.h"

namespace dvl::unace {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The number of a volume extension (without its dot): the second and third
// characters as two digits, plus 100 times the first when it is a digit; -1
// for an extension of another form (".ace", ".exe").
int VolumeNumberOf(std::string_view ext) {
    if (ext.size() != 3 || !IsDigit(ext[1]) || !IsDigit(ext[2])) return -1;
    int number = (ext[1] - '0') * 10 + (ext[2] - '0');
    if (IsDigit(ext[0])) number += (ext[0] - '0') * 100;
    return number;
}

bool HasLowerCaseLetter(std::string_view text) {
    for (char c : text)
        if (c >= 'a' && c <= 'z') return true;
    return false;
}

} // namespace

std::vector<std::string> NextVolumeNames(std::string_view volume) {
    const std::string ext = ExtractFileExt(volume);
    const std::string_view base = volume.substr(0, volume.size() - ext.size());
    const std::string_view extText =
        ext.empty() ? std::string_view{} : std::string_view(ext).substr(1);
    const int number = VolumeNumberOf(extText) + 1;
    if (number >= 100) return {std::string(base) + "." + std::to_string(number)};
    const std::string digits = std::string(number < 10 ? "0" : "") + std::to_string(number);
    const bool lowerFirst = HasLowerCaseLetter(extText);
    std::vector<std::string> names;
    for (char letter : {lowerFirst ? 'c' : 'C', lowerFirst ? 'C' : 'c'})
        names.push_back(std::string(base) + "." + letter + digits);
    return names;
}

} // namespace dvl::unace
