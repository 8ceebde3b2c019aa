// Cutting the six values out of a large lookup page, and converting such a page from UTF-8.
#include "runtime/Gbk.h"
#include "tools/IpLookup.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

// About 200 KB of Chinese and ASCII text full of near-miss marker bytes, with the values at its end, so every
// search runs over the whole page.
std::string BigUtf8Page() {
    std::string page;
    const std::string filler = "<div class=\"red\">查询记录 <strong>广告</strong> ==> 来自 [1] 上面三项</div>\r\n";
    while (page.size() < 200 * 1024) {
        page += filler;
    }
    page += "<p>您的IP:[<strong class=\"red\">203.0.113.7</strong>] 来自:<strong>日本</strong></p>\r\n"
            "<span id=\"status\" class=\"info1\">\r\nok\r\n上面三项依次显示的是\r\n"
            "<strong class=\"red\">查询结果[1]: 8.8.8.8 ==>> 134744072 ==>> 美国</strong><br />\r\n";
    return page;
}

void ExtractAllSixValues(benchmark::State& state) {
    const std::string page = Gbk::FromUtf8(BigUtf8Page());
    for (auto _ : state) {
        const IpLookup::LookupAnswer answer = IpLookup::ParseLookupAnswer(page);
        const IpLookup::OwnAddress own = IpLookup::ParseOwnAddress(page);
        if (answer.location.empty() || own.location.empty()) {
            state.SkipWithError("values not found");
        }
        benchmark::DoNotOptimize(answer);
        benchmark::DoNotOptimize(own);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(ExtractAllSixValues)->Unit(benchmark::kMicrosecond);

void ConvertPage(benchmark::State& state) {
    const std::string utf8 = BigUtf8Page();
    const Bytes body(utf8.begin(), utf8.end());
    for (auto _ : state) {
        benchmark::DoNotOptimize(IpLookup::PageTextOf(body));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(ConvertPage)->Unit(benchmark::kMicrosecond);

} // namespace
