#include "DataSet.h"

#include <libdeflate.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

namespace {

// splitmix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return std::size_t(next() % n); }
    // Sizes spread like real files: mostly small, a few large.
    std::size_t size(std::size_t typical)
    {
        const double u = double(next() >> 11) / double(1ull << 53);
        const double factor = u < 0.7 ? 0.2 + u : u < 0.95 ? 1.0 + (u - 0.7) * 8 : 3.0 + (u - 0.95) * 80;
        return std::size_t(double(typical) * factor) + 64;
    }

private:
    std::uint64_t m_state;
};

template <std::size_t N>
const char* pick(Random& r, const std::array<const char*, N>& list)
{
    return list[r.below(N)];
}

const std::array<const char*, 48> Words = {
    "the", "of", "and", "to", "in", "is", "that", "for", "it", "as", "with", "be", "on", "not", "this", "by",
    "file", "folder", "archive", "key", "value", "buffer", "stream", "entry", "record", "header", "index", "node",
    "request", "response", "server", "client", "thread", "cache", "memory", "error", "result", "option", "user",
    "window", "data", "table", "query", "update", "system", "process", "message", "status"};
const std::array<const char*, 28> Parts = {"get", "set", "make", "read", "write", "open", "close", "find",
                                           "parse", "load", "store", "update", "count", "index", "node", "item",
                                           "value", "size", "name", "path", "file", "stream", "buffer", "entry",
                                           "record", "table", "list", "map"};
const std::array<const char*, 10> Types = {"int", "std::size_t", "bool", "std::string", "double", "auto",
                                           "const Item&", "std::vector<int>", "Node*", "std::uint32_t"};
const std::array<const char*, 6> Levels = {"INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"};
const std::array<const char*, 12> Cities = {"Berlin", "Lyon", "Porto", "Oslo", "Graz", "Turin",
                                            "Ghent", "Brno", "Cork", "Malmo", "Split", "Tartu"};

std::string identifier(Random& r)
{
    std::string s = pick(r, Parts);
    const std::size_t n = r.below(3);
    for (std::size_t i = 0; i < n; ++i) {
        std::string p = pick(r, Parts);
        p[0] = char(p[0] - 'a' + 'A');
        s += p;
    }
    return s;
}

std::string sentence(Random& r)
{
    std::string s;
    const std::size_t n = 5 + r.below(14);
    for (std::size_t i = 0; i < n; ++i) {
        s += pick(r, Words);
        s += i + 1 < n ? " " : ".";
    }
    s[0] = char(s[0] - 'a' + 'A');
    return s;
}

std::string cppSource(Random& r, std::size_t size)
{
    std::string s = "// " + sentence(r) + "\n// " + sentence(r) + "\n\n#include <string>\n#include <vector>\n#include \"" +
                    identifier(r) + ".h\"\n\nnamespace " + identifier(r) + " {\n\n";
    while (s.size() < size) {
        if (r.below(3) == 0)
            s += "// " + sentence(r) + "\n";
        s += std::string(pick(r, Types)) + " " + identifier(r) + "(" + pick(r, Types) + " " + identifier(r) + ")\n{\n";
        const std::size_t lines = 2 + r.below(12);
        for (std::size_t i = 0; i < lines; ++i) {
            const std::string indent(4 * (1 + r.below(3)), ' ');
            switch (r.below(5)) {
            case 0: s += indent + "if (" + identifier(r) + " > " + std::to_string(r.below(1000)) + ") {\n"; break;
            case 1: s += indent + "for (std::size_t i = 0; i < " + identifier(r) + ".size(); ++i)\n"; break;
            case 2: s += indent + "return " + identifier(r) + "(" + identifier(r) + ");\n"; break;
            default: s += indent + "auto " + identifier(r) + " = " + identifier(r) + "." + identifier(r) + "();\n";
            }
        }
        s += "}\n\n";
    }
    s += "} // namespace\n";
    return s;
}

std::string pythonSource(Random& r, std::size_t size)
{
    std::string s = "\"\"\"" + sentence(r) + "\"\"\"\n\nimport os\nimport sys\n\n";
    while (s.size() < size) {
        s += "def " + identifier(r) + "(" + identifier(r) + ", " + identifier(r) + "=None):\n";
        s += "    \"\"\"" + sentence(r) + "\"\"\"\n";
        const std::size_t lines = 2 + r.below(10);
        for (std::size_t i = 0; i < lines; ++i)
            s += std::string(4 * (1 + r.below(2)), ' ') + identifier(r) + " = " + identifier(r) + "[" +
                 std::to_string(r.below(64)) + "]\n";
        s += "    return " + identifier(r) + "\n\n\n";
    }
    return s;
}

std::string prose(Random& r, std::size_t size)
{
    std::string s;
    while (s.size() < size) {
        if (r.below(8) == 0)
            s += "\n## " + sentence(r) + "\n\n";
        const std::size_t n = 2 + r.below(6);
        for (std::size_t i = 0; i < n; ++i)
            s += sentence(r) + (i + 1 < n ? " " : "\n\n");
    }
    return s;
}

std::string logLines(Random& r, std::size_t size)
{
    std::string s;
    std::uint64_t ms = 1'700'000'000'000ull;
    char stamp[64];
    while (s.size() < size) {
        ms += r.below(400);
        const std::uint64_t secs = ms / 1000 % 86400;
        std::snprintf(stamp, sizeof stamp, "2024-05-17 %02u:%02u:%02u.%03u ", unsigned(secs / 3600),
                      unsigned(secs / 60 % 60), unsigned(secs % 60), unsigned(ms % 1000));
        s += stamp;
        s += pick(r, Levels);
        s += " [worker-" + std::to_string(r.below(16)) + "] request " + std::to_string(r.below(1000000)) + " " +
             pick(r, Words) + " " + pick(r, Words) + " in " + std::to_string(r.below(900)) + " ms for /api/" +
             pick(r, Parts) + "/" + std::to_string(r.below(50000)) + " status=" + (r.below(20) ? "200" : "500") + "\n";
    }
    return s;
}

std::string csv(Random& r, std::size_t size)
{
    std::string s = "id,name,city,amount,date\n";
    for (std::uint64_t id = 1; s.size() < size; ++id)
        s += std::to_string(id) + "," + identifier(r) + "," + pick(r, Cities) + "," + std::to_string(r.below(100000)) +
             "." + std::to_string(r.below(100)) + ",2023-" + std::to_string(1 + r.below(12)) + "-" +
             std::to_string(1 + r.below(28)) + "\n";
    return s;
}

std::string jsonLines(Random& r, std::size_t size)
{
    std::string s;
    while (s.size() < size)
        s += "{\"" + identifier(r) + "\": " + std::to_string(r.below(1000000)) + ", \"" + identifier(r) + "\": \"" +
             sentence(r) + "\", \"tags\": [\"" + pick(r, Words) + "\", \"" + pick(r, Words) + "\"]}\n";
    return s;
}

std::string randomBytes(Random& r, std::size_t size)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t v = r.next();
        for (std::size_t k = 0; k < 8 && i + k < size; ++k)
            s[i + k] = char(v >> (8 * k));
    }
    return s;
}

std::string gzip(const std::string& plain)
{
    std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(libdeflate_alloc_compressor(9),
                                                                                libdeflate_free_compressor);
    std::string out(libdeflate_gzip_compress_bound(c.get(), plain.size()), '\0');
    out.resize(libdeflate_gzip_compress(c.get(), plain.data(), plain.size(), out.data(), out.size()));
    return out;
}

class Writer {
public:
    explicit Writer(fs::path root) : m_root(std::move(root)) {}
    void write(const fs::path& rel, const std::string& bytes)
    {
        const fs::path file = m_root / rel;
        fs::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + file.string());
        m_summary.bytes += bytes.size();
        ++m_summary.files;
    }
    DataSetSummary summary() const { return m_summary; }

private:
    fs::path m_root;
    DataSetSummary m_summary;
};

struct Shape {
    int sources;
    int docs;
    int gzDocs;
    std::size_t bigText;
    std::size_t log;
    int packages;
    std::size_t packageText;
    int media;
    std::size_t mediaBytes;
};

constexpr Shape Full{10000, 1500, 400, 20'000'000, 60'000'000, 40, 10'000'000, 25, 3'000'000};
constexpr Shape Quick{200, 30, 10, 1'000'000, 2'000'000, 2, 2'000'000, 2, 500'000};

} // namespace

DataSetSummary makeDataSet(const fs::path& dir, bool quick)
{
    const Shape& shape = quick ? Quick : Full;
    Random r(20240517);
    Writer w(dir);
    for (int i = 0; i < shape.sources; ++i) {
        const fs::path module = fs::path("src") / ("module" + std::to_string(i % 40)) / ("part" + std::to_string(i % 13));
        if (i % 4 == 3)
            w.write(module / (identifier(r) + std::to_string(i) + ".py"), pythonSource(r, r.size(6000)));
        else
            w.write(module / (identifier(r) + std::to_string(i) + (i % 4 == 0 ? ".h" : ".cpp")), cppSource(r, r.size(9000)));
    }
    for (int i = 0; i < shape.docs; ++i)
        w.write(fs::path("docs") / ("section" + std::to_string(i % 20)) / ("page" + std::to_string(i) + ".md"),
                prose(r, r.size(25000)));
    for (int i = 0; i < shape.gzDocs; ++i)
        w.write(fs::path("docs") / "archive" / ("changelog" + std::to_string(i) + ".txt.gz"), gzip(prose(r, r.size(60000))));
    w.write("data/customers.csv", csv(r, shape.bigText));
    w.write("data/events.jsonl", jsonLines(r, shape.bigText));
    w.write("data/handbook.txt", prose(r, shape.bigText));
    w.write("logs/server.log", logLines(r, shape.log));
    for (int i = 0; i < shape.packages; ++i)
        w.write(fs::path("packages") / ("package" + std::to_string(i) + ".tar.gz"), gzip(jsonLines(r, shape.packageText)));
    for (int i = 0; i < shape.media; ++i)
        w.write(fs::path("media") / ("clip" + std::to_string(i) + ".bin"), randomBytes(r, shape.mediaBytes));
    return w.summary();
}

} // namespace bench
