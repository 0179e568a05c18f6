// quorvel-cli's option table held against its parser and its --help: every
// option is taken in the runs the table names and refused in the others,
// under every spelling, and --help lists it; every option --help mentions is
// one the parser takes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli/options.h"

namespace {

struct Parsed {
    ParseResult result;
    std::string error;
    Arguments args;
};

Parsed parse(std::vector<const char*> words) {
    words.insert(words.begin(), "quorvel-cli");
    Parsed parsed;
    parsed.result = parseArguments(static_cast<int>(words.size()), words.data(), parsed.args, parsed.error);
    return parsed;
}

// A command line of each run, without the option under test. The outputs
// are DDS, so that the DDS choices have somewhere to go.
struct RunLine {
    RunKind run;
    const char* name;
    std::vector<const char*> words;
};
const RunLine runLines[] = {
    {oneFileRun, "INPUT OUTPUT", {"in.png", "out.dds"}},
    {folderRun, "--out-dir", {"--out-dir", "out", "--format", "dds", "in"}},
    {detectRun, "--detect", {"--detect", "in"}},
    {checkRun, "--check", {"--check", "in"}},
    {fixOneRun, "--fix INPUT OUTPUT", {"--fix", "in.png", "out.dds"}},
    {fixFolderRun, "--fix --out-dir", {"--fix", "--out-dir", "out", "--format", "dds", "in"}},
    {fromHeightRun, "--from-height", {"--from-height", "height.png", "out.dds"}},
    {fromHeightFolderRun, "--from-height --out-dir", {"--from-height", "--out-dir", "out", "--format", "dds", "in"}},
    {toHeightRun, "--to-height", {"--to-height", "in.png", "height.png"}},
    {toHeightFolderRun, "--to-height --out-dir", {"--to-height", "--out-dir", "out", "in"}},
};

// Options that only make sense beside another, and the words of that other.
const std::map<std::string, std::vector<const char*>> companions = {
    {"--blend-mode", {"--blend", "detail.png"}},
    {"--blend-strength", {"--blend", "detail.png"}},
};

void addCompanions(const Option& option, std::vector<const char*>& words) {
    const auto found = companions.find(option.name);
    if (found != companions.end()) words.insert(words.end(), found->second.begin(), found->second.end());
}

// A run line's words as `option` needs them: the ASTC choices go with
// .astc outputs and --format astc where the lines write DDS.
std::vector<const char*> wordsFor(const Option& option, const RunLine& line) {
    std::vector<const char*> words = line.words;
    if (std::strncmp(option.name, "--astc", 6) != 0) return words;
    for (const char*& word : words) {
        if (std::strcmp(word, "out.dds") == 0) word = "out.astc";
        if (std::strcmp(word, "dds") == 0) word = "astc";
    }
    return words;
}

// Whether this build takes `option`: the ASTC choices need an ASTC library
// (none on Windows, which refuses them as a usage error).
bool available(const Option& option) {
    return std::strncmp(option.name, "--astc", 6) != 0 || platformHasAstc();
}

// The options that pick the run; the run lines above hold them.
bool picksRun(const Option& option) {
    for (const char* name : {"--out-dir", "--detect", "--check", "--fix", "--from-height", "--to-height"})
        if (std::strcmp(option.name, name) == 0) return true;
    return false;
}

// A value each option that takes one accepts.
const std::map<std::string, const char*> goodValues = {
    {"--scale", "2"},      {"--to", "opengl"}, {"--thumbnail", "t.png"}, {"--alpha", "drop"},
    {"--depth", "16"},     {"--dds", "bc1"},   {"--mips", "3"},          {"--out-dir", "out"},
    {"--format", "png"},   {"--jobs", "2"},    {"--expect", "directx"},
    {"--height-channel", "r"}, {"--height-scale", "2.5"}, {"--filter", "scharr"}, {"--convention", "directx"},
    {"--blend", "detail.png"}, {"--blend-mode", "udn"},   {"--blend-strength", "0.5"},
    {"--ktx", "rg16"},     {"--ktx-zstd", "0"},  {"--ktx-zlib", "6"},
    {"--astc", "6x6"},         {"--astc-quality", "fast"},  {"--for", "unreal"},
};

// The KTX2 options go with KTX2 outputs: the run lines' DDS outputs become
// KTX2 ones for them.
void aimAtKtx2(const Option& option, std::vector<const char*>& words) {
    if (std::strcmp(option.section, "KTX2 output") != 0) return;
    for (const char*& word : words) {
        if (std::strcmp(word, "out.dds") == 0) word = "out.ktx2";
        else if (std::strcmp(word, "dds") == 0) word = "ktx2";
    }
}

const char* goodValue(const Option& option) {
    const auto found = goodValues.find(option.name);
    if (found != goodValues.end()) return found->second;
    ADD_FAILURE() << option.name << " takes a value, and the test has none for it";
    return "";
}

ParseResult expectedResult(const Option& option) {
    switch (option.effect) {
        case OptionEffect::help: return ParseResult::help;
        case OptionEffect::version: return ParseResult::version;
        case OptionEffect::next: break;
    }
    return ParseResult::run;
}

TEST(CliOptions, EachOptionIsTakenInItsRunsAndRefusedInTheOthers) {
    for (const Option& option : optionTable()) {
        if (picksRun(option)) continue;
        for (const RunLine& line : runLines) {
            std::vector<const char*> words = wordsFor(option, line);
            words.push_back(option.name);
            if (option.argument) words.push_back(goodValue(option));
            addCompanions(option, words);
            aimAtKtx2(option, words);
            const Parsed parsed = parse(words);
            const bool takes = (option.runs & line.run) != 0 && available(option);
            EXPECT_EQ(parsed.result, takes ? expectedResult(option) : ParseResult::usage)
                << option.name << " with " << line.name << ": " << parsed.error;
            if (!takes) {
                EXPECT_EQ(parsed.error.find("unknown option"), std::string::npos) << parsed.error;
            }
        }
    }
}

TEST(CliOptions, EverySpellingOfAnOptionIsTaken) {
    for (const Option& option : optionTable()) {
        const RunLine* home = nullptr;
        for (const RunLine& line : runLines)
            if (!home && (option.runs & line.run)) home = &line;
        ASSERT_NE(home, nullptr) << option.name << " goes with no run";
        const std::string shortName = option.shortName ? std::string{'-', option.shortName} : "";
        std::vector<std::vector<std::string>> spellings = {{option.name}};
        if (!shortName.empty()) spellings.push_back({shortName});
        if (option.argument) {
            const std::string value = goodValue(option);
            for (auto& spelling : spellings) spelling.push_back(value);
            spellings.push_back({std::string(option.name) + "=" + value});
            if (!shortName.empty()) {
                spellings.push_back({shortName + "=" + value});
                spellings.push_back({shortName + value});
            }
        }
        for (const auto& spelling : spellings) {
            std::vector<const char*> words = wordsFor(option, *home);
            for (const std::string& word : spelling) words.push_back(word.c_str());
            addCompanions(option, words);
            aimAtKtx2(option, words);
            const Parsed parsed = parse(words);
            EXPECT_EQ(parsed.result, available(option) ? expectedResult(option) : ParseResult::usage)
                << spelling.front() << ": " << parsed.error;
        }
    }
}

TEST(CliOptions, ValuesAreAskedForAndChecked) {
    for (const Option& option : optionTable()) {
        const std::string name = option.name;
        if (!option.argument) {
            // A switch takes no value, attached or not.
            const std::string attached = name + "=1";
            const Parsed parsed = parse({"in.png", "out.png", attached.c_str()});
            EXPECT_EQ(parsed.error, "unknown option '" + attached + "'");
            continue;
        }
        const Parsed missing = parse({"in.png", "out.png", option.name});
        EXPECT_EQ(missing.result, ParseResult::usage);
        EXPECT_EQ(missing.error, "option '" + name + "' needs a value");
        if (!option.refusal) continue;
        const Parsed refused = parse({"in.png", "out.png", option.name, "bogus"});
        EXPECT_EQ(refused.result, ParseResult::usage);
        EXPECT_EQ(refused.error, std::string(option.refusal) + ", not 'bogus'");
    }
}

// The runs of making maps refuse each other and the reading runs, each with
// a message that names the options at odds.
TEST(CliOptions, MapMakersRefuseWhatDoesNotGoWithThem) {
    const struct {
        std::vector<const char*> words;
        const char* message;
    } cases[] = {
        {{"--from-height", "--to-height", "a.png", "b.png"}, "--from-height and --to-height are separate runs"},
        {{"--blend", "d.png", "--check", "a.png"}, "--blend writes normal maps"},
        {{"--blend", "d.png", "--detect", "a.png"}, "--blend writes normal maps"},
        {{"--blend", "d.png", "--to-height", "a.png", "b.png"}, "--blend writes normal maps"},
        {{"--blend", "d.png", "--fix", "a.png", "b.png"}, "--blend does not go with --fix"},
        {{"--from-height", "--check", "a.png"}, "do not go with --check, --detect or --fix"},
        {{"--to-height", "--detect", "a.png"}, "do not go with --check, --detect or --fix"},
        {{"--from-height", "--fix", "a.png", "b.png"}, "do not go with --check, --detect or --fix"},
        {{"--blend-strength", "2", "a.png", "b.png"}, "go with --blend"},
        {{"--height-channel", "r", "a.png", "b.png"}, "--height-channel goes with --from-height"},
        {{"--clamp", "a.png", "b.png"}, "--clamp goes with --from-height or --to-height"},
        {{"--to-height", "a.png", "b.bmp"}, "OUTPUT must end in .png, .tif, .tiff or .exr"},
        {{"--to-height", "--out-dir", "o", "--format", "tga", "a.png"}, "--format takes png, tif or exr"},
        {{"--to-height", "--height-scale", "0", "a.png", "b.png"}, "above 0"},
        {{"--to-height", "--depth", "8", "a.png", "b.png"}, "--depth takes 16 or float"},
        {{"--to-height", "--depth", "float", "a.png", "b.png"}, "PNG holds no floats"},
        {{"--to-height", "--depth", "16", "a.png", "b.exr"}, "OpenEXR heights are floats"},
        {{"--to-height", "--out-dir", "o", "--format", "exr", "--depth", "16", "a.png"}, "OpenEXR heights are floats"},
        {{"--depth", "float", "a.png", "b.tif"}, "--depth float goes with --to-height"},
        {{"--from-height", "--depth", "float", "a.exr", "b.tif"}, "--depth float goes with --to-height"},
        {{"a.png", "b.exr"}, ".exr goes with --to-height"},
        {{"--out-dir", "o", "--format", "exr", "a.png"}, "--format exr goes with --to-height"},
        {{"--from-height", "--to", "opengl", "a.png", "b.png"}, "--to does not go with --from-height"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.words);
        EXPECT_EQ(parsed.result, ParseResult::usage) << c.message;
        EXPECT_NE(parsed.error.find(c.message), std::string::npos) << parsed.error;
    }
}

// The texture options go with the containers that take them, and the
// supercompressions exclude each other.
TEST(CliOptions, TextureOptionsGoWithTheirContainers) {
    const struct {
        std::vector<const char*> words;
        const char* message;
    } cases[] = {
        {{"--ktx", "bc4", "a.png", "b.dds"}, "--ktx, --ktx-zstd and --ktx-zlib go with a .ktx2 OUTPUT"},
        {{"--ktx-zlib", "3", "a.png", "b.png"}, "--ktx, --ktx-zstd and --ktx-zlib go with a .ktx2 OUTPUT"},
        {{"--dds", "bc1", "a.png", "b.ktx2"}, "--dds and --dds-dx10 go with a .dds OUTPUT"},
        {{"--mips", "2", "a.png", "b.png"}, "--mips, --mip-keep-length and --bc7-fast go with a .dds or .ktx2 OUTPUT"},
        {{"--out-dir", "o", "--ktx", "rg8", "a.png"}, "go with --format ktx2"},
        {{"--out-dir", "o", "--format", "dds", "--ktx-zstd", "0", "a.png"}, "go with --format ktx2"},
        {{"--out-dir", "o", "--format", "ktx2", "--dds-dx10", "a.png"}, "go with --format dds"},
        {{"--ktx-zstd", "5", "--ktx-zlib", "5", "a.png", "b.ktx2"}, "choose one"},
        {{"--ktx", "bc6h", "a.png", "b.ktx2"}, "--ktx takes bc5, bc1, bc3, bc4, rg8, rgba8, rg16, rgba16, bc7 or astc4x4"},
        {{"--ktx", "astc12x12", "a.png", "b.ktx2"}, "--ktx takes"},
        {{"--ktx-zstd", "23", "a.png", "b.ktx2"}, "--ktx-zstd takes a level from 0 (none) to 22"},
        {{"--ktx-zlib", "0", "a.png", "b.ktx2"}, "--ktx-zlib takes a level from 1 to 9"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.words);
        EXPECT_EQ(parsed.result, ParseResult::usage) << c.message;
        EXPECT_NE(parsed.error.find(c.message), std::string::npos) << parsed.error;
    }
}

// --for sets what each engine takes where no option says otherwise, and
// refuses an option that does.
TEST(CliOptions, EnginePresetsSetWhatTheEngineTakes) {
    const struct {
        std::vector<const char*> words;
        GreenConvention to, expect;
        OutputFormat format;  // folder runs: --format
        TextureFormat dds, ktx;
        int32_t depth;
    } taken[] = {
        {{"--for", "unreal", "a.png", "b.dds"}, GreenConvention::directX, GreenConvention::unknown,
         OutputFormat::png, TextureFormat::bc5, TextureFormat::bc5, 0},
        {{"--for", "unreal", "--dds", "bc5", "--mips", "4", "a.png", "b.dds"}, GreenConvention::directX,
         GreenConvention::unknown, OutputFormat::png, TextureFormat::bc5, TextureFormat::bc5, 0},
        {{"--for", "bevy", "--out-dir", "o", "a.png"}, GreenConvention::openGl, GreenConvention::unknown,
         OutputFormat::ktx2, TextureFormat::bc5, TextureFormat::bc5, 0},
        {{"--for", "threejs", "a.png", "b.ktx2"}, GreenConvention::openGl, GreenConvention::unknown,
         OutputFormat::png, TextureFormat::bc5, TextureFormat::rgba8, 0},
        {{"--for", "blender", "--to", "opengl", "a.png", "b.png"}, GreenConvention::openGl,
         GreenConvention::unknown, OutputFormat::png, TextureFormat::bc5, TextureFormat::bc5, 16},
        {{"--for", "godot", "--check", "a.png"}, GreenConvention::unknown, GreenConvention::openGl,
         OutputFormat::png, TextureFormat::bc5, TextureFormat::bc5, 0},
        {{"--for", "unreal", "--fix", "a.png", "b.dds"}, GreenConvention::unknown, GreenConvention::directX,
         OutputFormat::png, TextureFormat::bc5, TextureFormat::bc5, 0},
    };
    for (const auto& c : taken) {
        const Parsed parsed = parse(c.words);
        SCOPED_TRACE(c.words[1]);
        ASSERT_EQ(parsed.result, ParseResult::run) << parsed.error;
        const Arguments& a = parsed.args;
        EXPECT_EQ(a.to, c.to);
        EXPECT_EQ(a.check.expect, c.expect);
        if (a.outDir) {
            EXPECT_EQ(a.format, c.format);
        }
        EXPECT_EQ(a.save.ddsFormat, c.dds);
        EXPECT_EQ(a.save.ktxFormat, c.ktx);
        EXPECT_EQ(a.save.depth, c.depth);
    }
    const struct {
        std::vector<const char*> words;
        const char* error;
    } refused[] = {
        {{"--for", "unreal", "a.png", "b.png"}, "--for unreal writes a BC5 DDS texture: OUTPUT must end in .dds"},
        {{"--for", "unreal", "--to", "opengl", "a.png", "b.dds"}, "DirectX convention: --to opengl says otherwise"},
        {{"--for", "unity", "--check", "--expect", "directx", "a.png"}, "--expect directx says otherwise"},
        {{"--for", "threejs", "--ktx", "bc5", "a.png", "b.ktx2"}, "--ktx bc5 says otherwise"},
        {{"--for", "unreal", "--dds", "bc7", "a.png", "b.dds"}, "--dds bc7 says otherwise"},
        {{"--for", "blender", "--depth", "8", "a.png", "b.png"}, "--depth 8 says otherwise"},
        {{"--for", "godot", "--out-dir", "o", "--format", "dds", "a.png"}, "--format dds says otherwise"},
        {{"--for", "unity", "--mips", "3", "a.png", "b.png"}, "go with a .dds or .ktx2 OUTPUT"},
        {{"--for", "unreal", "--to-height", "a.png", "b.png"}, "--for does not go with --to-height"},
        {{"--for", "cryengine", "a.png", "b.png"}, "--for takes unreal, unity, godot, bevy, threejs or blender"},
    };
    for (const auto& c : refused) {
        const Parsed parsed = parse(c.words);
        EXPECT_EQ(parsed.result, ParseResult::usage) << c.error;
        EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
    }
}

// What --to-height writes, as the parsing leaves it.
TEST(CliOptions, HeightOutputsAreTakenAsTheyAreNamed) {
    const struct {
        std::vector<const char*> words;
        bool floats;
        OutputFormat format;
    } cases[] = {
        {{"--to-height", "a.png", "b.png"}, false, OutputFormat::png},
        {{"--to-height", "--depth", "16", "a.png", "b.TIF"}, false, OutputFormat::png},
        {{"--to-height", "--depth", "float", "a.png", "b.tiff"}, true, OutputFormat::png},
        {{"--to-height", "--depth", "float", "--depth", "16", "a.png", "b.tif"}, false, OutputFormat::png},
        {{"--to-height", "--out-dir", "o", "--format", "tif", "--depth=float", "a.png"}, true, OutputFormat::tif},
    };
    for (const auto& c : cases) {
        std::vector<const char*> words = c.words;
        words.insert(words.begin(), "quorvel-cli");
        Arguments args;
        std::string error;
        ASSERT_EQ(parseArguments(static_cast<int>(words.size()), words.data(), args, error), ParseResult::run) << error;
        EXPECT_EQ(args.make.floatHeights, c.floats) << error;
        EXPECT_EQ(args.format, c.format);
    }
    // OpenEXR, where there is a library for it.
    for (const std::vector<const char*>& words :
         {std::vector<const char*>{"--to-height", "a.png", "b.exr"},
          std::vector<const char*>{"--to-height", "--out-dir", "o", "--format", "exr", "a.png"}}) {
#ifndef _WIN32
        EXPECT_EQ(parse(words).result, ParseResult::run);
#else
        EXPECT_NE(parse(words).error.find("writes no OpenEXR files"), std::string::npos);
#endif
    }
}

TEST(CliOptions, HelpListsEveryOptionWithItsValue) {
    const std::string help = helpText();
    for (const Option& option : optionTable()) {
        std::string label = option.shortName ? std::string{'-', option.shortName} + ", " + option.name : option.name;
        if (option.argument) label += std::string(" ") + option.argument;
        EXPECT_NE(help.find("\n  " + label + " "), std::string::npos) << label;
    }
}

// Every "-x" or "--name" that `text` mentions at the start of a word (after
// a space, "[" or "(").
std::vector<std::string> mentionedOptions(const std::string& text) {
    const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
    const auto nameChar = [&](char c) { return lower(c) || (c >= '0' && c <= '9') || c == '-'; };
    std::vector<std::string> names;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '-' || (i > 0 && text[i - 1] != ' ' && text[i - 1] != '[' && text[i - 1] != '(')) continue;
        size_t end = i + 1;
        if (end < text.size() && text[end] == '-') ++end;
        if (end >= text.size() || !lower(text[end])) continue;
        while (end < text.size() && nameChar(text[end])) ++end;
        names.push_back(text.substr(i, end - i));
        i = end - 1;
    }
    return names;
}

TEST(CliOptions, EveryOptionHelpMentionsIsTaken) {
    const std::vector<std::string> mentions = mentionedOptions(helpText());
    for (const std::string& name : mentions) {
        const Parsed parsed = parse({name.c_str()});
        EXPECT_EQ(parsed.error.find("unknown option"), std::string::npos) << name;
    }
    EXPECT_GT(mentions.size(), optionTable().size());
}

}  // namespace
