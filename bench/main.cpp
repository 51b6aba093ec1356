// Runs the benchmarks and, from the repetitions' medians, prints what the library adds to the
// bare simulated exchange.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

class median_collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians; // in each benchmark's own time unit
};

void print_difference(const median_collector &collected, const char *library, const char *bare, const char *unit)
{
    const auto a = collected.medians.find(library);
    const auto b = collected.medians.find(bare);
    if (a == collected.medians.end() || b == collected.medians.end())
        return;
    std::printf("%-20s median %10.3f %s   %-20s median %10.3f %s   library adds %+.3f %s\n", library, a->second, unit,
                bare, b->second, unit, a->second - b->second, unit);
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<char *> arguments(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    arguments.insert(arguments.begin() + 1, {repetitions.data(), aggregates.data()});
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    median_collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    std::printf("\n");
    print_difference(collector, "library_transaction", "bare_transaction", "ns");
    print_difference(collector, "library_flash_read", "bare_flash_read", "ms");
    return 0;
}
