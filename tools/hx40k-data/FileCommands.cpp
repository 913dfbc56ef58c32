#include "FileCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "analysis/OscillometricAnalysis.h"
#include "data/DataFileJson.h"
#include "data/DataFileReader.h"
#include "review/CRecordingReview.h"

namespace hxdata {

const char* const kFileUsage =
    "usage: hx40k-data dump FILE...            print the data file as JSON (JSON lines for several)\n"
    "       hx40k-data csv FILE                print index,pressure,wave for the 4000 samples\n"
    "       hx40k-data csv --out DIR FILE...   write DIR/<file name>.csv for each file\n"
    "       hx40k-data analyse FILE...         print the envelope analysis of the recording as JSON\n"
    "                                          (JSON lines for several)\n";

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitFile = 2;

int usage(const std::string& problem) {
    std::fprintf(stderr, "hx40k-data: %s\n%s", problem.c_str(), kFileUsage);
    return kExitUsage;
}

bool writeAll(std::FILE* out, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

std::string analysisJson(const hx::COscillometricAnalysis& analysis) {
    const auto coefficients = analysis.coefficients();
    std::string out = "{\n  \"baseline\": " + std::to_string(analysis.baseline()) + ",\n";
    out += "  \"hasCurve\": " + std::string(analysis.hasCurve() ? "true" : "false") + ",\n";
    out += "  \"peaks\": " + hx::jsonIntArray(analysis.peaks()) + ",\n";
    out += "  \"coefficients\": [";
    for (std::size_t i = 0; i < coefficients.size(); ++i)
        out += (i ? "," : "") + hx::jsonNumber(coefficients[i]);
    out += "],\n  \"envelope\": [";
    const auto& curve = analysis.envelope();
    for (std::size_t i = 0; i < curve.size(); ++i) {
        if (i) out += ',';
        const bool value = analysis.hasCurve() && curve[i] != hx::COscillometricAnalysis::kNoValue;
        out += value ? std::to_string(curve[i]) : "null";
    }
    return out + "]\n}\n";
}

// The same JSON on one line: a line feed and the indentation after it go (no
// string in it holds a raw line feed; the texts escape theirs).
std::string oneLine(const std::string& json) {
    std::string out;
    out.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        if (json[i] != '\n') {
            out += json[i];
            continue;
        }
        while (i + 1 < json.size() && json[i + 1] == ' ') ++i;
    }
    return out;
}

// Why path could not be read, naming it once.
std::string readError(const std::string& path, const std::string& error) {
    return error.rfind(path + ":", 0) == 0 ? error : path + ": not a valid data file: " + error;
}

class CFileRun {
  public:
    CFileRun(std::string command, bool lines) : m_command(std::move(command)), m_lines(lines) {}

    // One file: its output, or its error on stderr (and as a line in JSON lines).
    void file(const std::string& path, const std::optional<std::string>& outDir) {
        const hx::DataFileParse parse = hx::readDataFile(path);
        if (!parse.ok) {
            const std::string why = readError(path, parse.error);
            std::fprintf(stderr, "hx40k-data: %s\n", why.c_str());
            m_failed = true;
            if (m_lines)
                emit("{\"file\":" + hx::jsonString(path) + ",\"error\":" + hx::jsonString(why) + "}\n");
            return;
        }
        if (m_command == "csv") {
            if (outDir) return writeCsv(path, *outDir, parse.contents);
            return emit(hx::dataFileCsv(parse.contents));
        }
        std::string json;
        if (m_command == "dump") {
            json = hx::dataFileJson(parse.contents);
        } else {
            json =
                analysisJson(hx::CRecordingReview::fromContents(path, std::move(parse.contents))->analysis());
        }
        if (!m_lines) return emit(json);
        const char* key = m_command == "dump" ? "dump" : "analysis";
        emit("{\"file\":" + hx::jsonString(path) + ",\"" + key + "\":" + oneLine(json) + "}\n");
    }

    int finish() {
        if (std::fflush(stdout) != 0) outputFailed();
        return m_failed || m_outputFailed ? kExitFile : 0;
    }

  private:
    void emit(const std::string& text) {
        if (!m_outputFailed && !writeAll(stdout, text)) outputFailed();
    }
    void outputFailed() {
        if (!m_outputFailed)
            std::fprintf(stderr, "hx40k-data: cannot write the output: %s\n", std::strerror(errno));
        m_outputFailed = true;
    }
    void writeCsv(const std::string& path, const std::string& dir, const hx::DataFileContents& contents) {
        const std::string target =
            (std::filesystem::path(dir) / std::filesystem::path(path).filename()).string() + ".csv";
        std::FILE* out = std::fopen(target.c_str(), "wb");
        const bool ok = out != nullptr && writeAll(out, hx::dataFileCsv(contents));
        if (out != nullptr && std::fclose(out) != 0 && ok) {
            std::fprintf(stderr, "hx40k-data: %s: %s\n", target.c_str(), std::strerror(errno));
            m_failed = true;
        } else if (!ok) {
            std::fprintf(stderr, "hx40k-data: %s: %s\n", target.c_str(), std::strerror(errno));
            m_failed = true;
        }
    }

    std::string m_command;
    bool m_lines;
    bool m_failed = false;
    bool m_outputFailed = false;
};

}  // namespace

int fileCommand(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    std::optional<std::string> outDir;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--out" && command == "csv" && i + 1 < args.size() && !outDir) {
            outDir = args[++i];
        } else if (args[i].rfind("--", 0) == 0) {
            return usage(command + ": unknown or incomplete option \"" + args[i] + "\"");
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.empty()) return usage(command + " takes a FILE");
    if (command == "csv" && files.size() > 1 && !outDir) return usage("csv of several files takes --out DIR");
    if (outDir) {
        std::error_code ec;
        std::filesystem::create_directories(*outDir, ec);
        if (ec) {
            std::fprintf(stderr, "hx40k-data: %s: %s\n", outDir->c_str(), ec.message().c_str());
            return kExitFile;
        }
    }
    // Whole lines reach a reader at once; the output is large, so buffer it well.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    CFileRun run(command, command != "csv" && files.size() > 1);
    for (const auto& path : files) run.file(path, outDir);
    return run.finish();
}

}  // namespace hxdata
