#pragma once
// Section and key names for the settings-file targets: mostly the ones the program uses, so that the
// fuzzer finds them in its files quickly, sometimes any bytes at all.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <string_view>

namespace fuzz {

inline std::string PickName(FuzzedDataProvider& in) {
    static const char* const kNames[] = {"EXEINI", "NUMBER",  "NUMBER2", "NUMBER3", "NUMBER4", "NUMBER5",
                                         "NAME",   "NAME2",   "NAME3",   "exeini",  " Name2 ", "\"NAME\"",
                                         "名前",   "x"};
    if (in.ConsumeBool()) return kNames[in.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)];
    return in.ConsumeRandomLengthString(16);
}

inline std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

inline bool SameName(std::string_view a, std::string_view b) {
    a = TrimBlanks(a);
    b = TrimBlanks(b);
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

// Never a value read from a file: those are always UTF-8, and this is not.
inline const std::string kMissing = "\xFF(missing)";

}  // namespace fuzz
