#include "cli/engine_presets.h"

#include <cstring>

#include "readers/ktx2_format.h"

namespace {

constexpr EnginePreset presets[] = {
    {"unreal", GreenConvention::directX, OutputFormat::dds, TextureFormat::bc5, 0, "a BC5 DDS texture"},
    {"unity", GreenConvention::openGl, OutputFormat::png, TextureFormat::bc5, 0, "a PNG picture"},
    {"godot", GreenConvention::openGl, OutputFormat::png, TextureFormat::bc5, 0, "a PNG picture"},
    {"bevy", GreenConvention::openGl, OutputFormat::ktx2, TextureFormat::bc5, 0, "a BC5 KTX2 texture"},
    {"threejs", GreenConvention::openGl, OutputFormat::ktx2, TextureFormat::rgba8, 0, "an RGBA8 KTX2 texture"},
    {"blender", GreenConvention::openGl, OutputFormat::png, TextureFormat::bc5, 16, "a 16-bit PNG picture"},
};

const char* extensionOf(OutputFormat format) {
    switch (format) {
        case OutputFormat::dds: return ".dds";
        case OutputFormat::ktx2: return ".ktx2";
        default: return ".png";
    }
}

const char* conventionWord(GreenConvention convention) {
    return convention == GreenConvention::directX ? "directx" : "opengl";
}

// The --dds or --ktx value that names `payload`.
std::string payloadWord(TextureFormat payload) {
    if (payload == TextureFormat::bgra8) return "bgra8";
    const ktx2::Payload* row = ktx2::payloadOf(payload);
    return row ? row->name : "?";
}

}  // namespace

const EnginePreset* enginePresetNamed(const char* name) {
    for (const EnginePreset& preset : presets)
        if (name && std::strcmp(preset.name, name) == 0) return &preset;
    return nullptr;
}


std::string applyEnginePreset(Arguments& args) {
    const EnginePreset* preset = args.engine;
    // --to-height writes heights: the run refuses --for by its table.
    if (!preset || args.make.toHeight) return {};
    const std::string engine = std::string("--for ") + preset->name;
    const auto contradicts = [&](const std::string& option) {
        return engine + " writes " + preset->writes + " in the " +
               (preset->convention == GreenConvention::directX ? "DirectX" : "OpenGL") + " convention: " + option +
               " says otherwise";
    };

    // The convention: the one the map is converted to, expected in, or made in.
    GreenConvention& convention = args.check.check || args.check.fix ? args.check.expect
                                  : args.make.fromHeight             ? args.make.convention
                                                                     : args.to;
    if (convention != GreenConvention::unknown && convention != preset->convention)
        return contradicts(std::string(args.check.check || args.check.fix ? "--expect "
                                       : args.make.fromHeight             ? "--convention "
                                                                          : "--to ") +
                           conventionWord(convention));
    convention = preset->convention;
    if (args.check.check && !args.check.fix) return {};  // a check writes nothing

    // The container.
    if (args.outDir) {
        if (args.formatGiven && args.format != preset->format)
            return contradicts(std::string("--format ") + (extensionOf(args.format) + 1));
        args.format = preset->format;
        args.formatGiven = true;
    } else if (args.inputs.size() == 2) {
        OutputFormat format = OutputFormat::png;
        if (outputFormatOf(args.inputs[1], format) && format != preset->format)
            return engine + " writes " + preset->writes + ": OUTPUT must end in " + extensionOf(preset->format) + ": " +
                   args.inputs[1];
    }

    // The payload and the depth.
    if (args.payloadGiven) {
        const TextureFormat given = preset->format == OutputFormat::dds ? args.save.ddsFormat : args.save.ktxFormat;
        if (given != preset->payload)
            return contradicts((preset->format == OutputFormat::dds ? "--dds " : "--ktx ") + payloadWord(given));
    }
    if (preset->format == OutputFormat::dds) args.save.ddsFormat = preset->payload;
    if (preset->format == OutputFormat::ktx2) args.save.ktxFormat = preset->payload;
    if (preset->depth) {
        if (args.save.depth != 0 && args.save.depth != preset->depth)
            return contradicts("--depth " + std::to_string(args.save.depth));
        args.save.depth = preset->depth;
    }
    return {};
}
