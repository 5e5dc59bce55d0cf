#pragma once

// What every benchmark program prints: rows of one markdown table
// (measure | value | floor/target | ratio | verdict) and definition lines starting "- ",
// which scripts/bench gathers into a single report.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace veltra::bench {

// 9600 baud, 7 data bits, even parity, 1 stop bit: 10 bits a character.
inline constexpr double kCharMs = 10.0 * 1000.0 / 9600.0;

// One request answered, at the least: both frames on the wire, the relay's turnaround and the
// pause before the next request.
inline double transactionFloorMs(int requestChars, int replyChars, double turnaroundMs,
                                 double pauseMs)
{
    return (requestChars + replyChars) * kCharMs + turnaroundMs + pauseMs;
}

// One read-all, at the least: every page one such transaction. The page count and the pause are
// the caller's, so that this header needs none of the tool's own.
inline double readAllFloorMs(int pages, int requestChars, int replyChars, double turnaroundMs,
                             double pauseMs)
{
    return pages * transactionFloorMs(requestChars, replyChars, turnaroundMs, pauseMs);
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

inline double maximum(const std::vector<double> &values)
{
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

inline std::string format(const char *pattern, double a, double b = 0.0, double c = 0.0)
{
    const int size = std::snprintf(nullptr, 0, pattern, a, b, c);
    std::string text(std::size_t(std::max(size, 0)), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, a, b, c);
    return text;
}

inline void row(const std::string &measure, const std::string &value, const std::string &target,
                const std::string &ratio, const std::string &verdict)
{
    std::printf("| %s | %s | %s | %s | %s |\n", measure.c_str(), value.c_str(), target.c_str(),
                ratio.c_str(), verdict.c_str());
    std::fflush(stdout);
}

inline void definition(const std::string &text)
{
    std::printf("- %s\n", text.c_str());
    std::fflush(stdout);
}

inline const char *verdict(bool pass)
{
    return pass ? "pass" : "FAIL";
}

} // namespace veltra::bench
