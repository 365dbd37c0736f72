#pragma once
// The benchmark's data set: a tree shaped like what people encrypt, made from a fixed seed so
// that every machine gets the same bytes.
//
//   src/       many small source files (C++ and Python), nested in modules
//   docs/      documentation pages, some of them gzip-compressed
//   data/      a few large text files (CSV, JSON lines, prose)
//   logs/      one long server log
//   packages/  already compressed files (gzip members of text)
//   media/     incompressible files
//
// The full set is about 470 MB in about 12,000 files; the quick one a few MB for a smoke run.

#include <cstdint>
#include <filesystem>

namespace bench {

struct DataSetSummary {
    std::uint64_t bytes = 0;
    std::uint64_t files = 0;
};

DataSetSummary makeDataSet(const std::filesystem::path& dir, bool quick);

} // namespace bench
