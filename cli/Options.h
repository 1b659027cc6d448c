// The batch front end's command line, read into values before anything runs: parsing, turning the
// options into a run's settings, and selecting the fonts the arguments name. Each step answers with
// a usage error instead of exiting, so all of it can be tested without starting a process.
#pragma once

#include "run/FontList.h"
#include "run/GenerationRun.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qf::cli {

enum class Action { Convert, List, ListCodePages, Check, Help, Version };

// What the command line says, as typed.
struct Options {
    Action action = Action::Convert;
    bool quiet = false;
    std::string sizes = "8, 10, 12, 14";
    std::string resolution = "96x96";
    std::string format = "fon";
    std::string codePage = "1252";
    std::string unsupported = "skip";
    std::string output = ".";
    std::optional<std::string> name;  // UTF-8
    std::string maxOutput = "1G";
    std::optional<std::string> chars;  // --chars: a Unicode repertoire, for the formats that take one
    std::string jobs;                 // threads rendering sizes; empty: one per core
    std::vector<std::string> fonts;   // FONT arguments: names as listed, indices, or "all"; FILEs with --check
};

// Reads the arguments (argv[0] is the program). On a usage error returns nothing and sets error.
std::optional<Options> parseArguments(int argc, char** argv, std::string& error);

// The run's settings from the options (sizes, resolution, format, code page, output bound), and
// the prompt answer --unsupported stands for. The output folder must exist; it is returned without
// trailing slashes. False with the reason for a usage error.
bool applyOptions(const Options& options, GenerationSettings& settings, int& unsupportedAnswer,
                  std::string& folder, std::string& error);

// Checks the entries the FONT arguments name, and renames the one entry --name is given for.
bool selectFonts(const Options& options, std::vector<FontListEntry>& fonts, std::string& error);

// A byte count: digits with an optional K, M, G or T (powers of 1024), optionally followed by
// "iB" or "B" ("512M", "1GiB", "1500"). False for anything else, zero, or a count past 2^62.
bool parseByteCount(const std::string& text, uint64_t& bytes);

// The --help text; the formats and the character sets come from their tables.
std::string usageText();

}  // namespace qf::cli
