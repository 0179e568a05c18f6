// OpenEXR through the OpenEXR library: reading the first part of a file held
// in memory, and writing one float channel. The library reports every fault
// by throwing; each one is caught here and becomes a false return, with the
// library's message where it is a reason a person can use.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/codecs.h"

namespace {

// A file held in memory, read by the library as a stream. A read past the
// end throws, as a file's end does.
class MemoryInput : public Imf::IStream {
public:
    explicit MemoryInput(std::span<const uint8_t> file) : Imf::IStream(""), file_(file) {}

    bool isMemoryMapped() const override { return true; }
    bool read(char c[], int n) override {
        std::memcpy(c, take(n), static_cast<size_t>(n));
        return position_ < file_.size();
    }
    char* readMemoryMapped(int n) override { return const_cast<char*>(reinterpret_cast<const char*>(take(n))); }
    uint64_t tellg() override { return position_; }
    void seekg(uint64_t position) override { position_ = position; }

private:
    const uint8_t* take(int n) {
        if (n < 0 || position_ > file_.size() || static_cast<uint64_t>(n) > file_.size() - position_)
            throw std::range_error("the file ends early");
        const uint8_t* bytes = file_.data() + position_;
        position_ += static_cast<uint64_t>(n);
        return bytes;
    }

    std::span<const uint8_t> file_;
    uint64_t position_ = 0;
};

// A file made in memory: the library seeks back to fill in the offset
// table, so the bytes are kept until the file is whole.
class MemoryOutput : public Imf::OStream {
public:
    MemoryOutput() : Imf::OStream("") {}

    void write(const char c[], int n) override {
        const size_t end = position_ + static_cast<size_t>(n);
        if (end > bytes_.size()) bytes_.resize(end);
        std::memcpy(bytes_.data() + position_, c, static_cast<size_t>(n));
        position_ = end;
    }
    uint64_t tellp() override { return position_; }
    void seekp(uint64_t position) override { position_ = static_cast<size_t>(position); }
    const std::vector<char>& bytes() const { return bytes_; }

private:
    std::vector<char> bytes_;
    size_t position_ = 0;
};

// The library's message, without the name of the stream (which has none):
// its messages about a file begin "Error reading pixel data from image
// file \"\". ", which says nothing here.
void keepReason(const char* what, std::span<char> reason) {
    if (reason.empty()) return;
    std::string text = what ? what : "";
    if (const size_t named = text.find("\"\". "); named != std::string::npos) text.erase(0, named + 4);
    std::snprintf(reason.data(), reason.size(), "%s", text.c_str());
}

}  // namespace

bool platformHasOpenExr() { return true; }

bool platformDecodeExr(std::span<const uint8_t> file, const ExrLayout& layout, float* samples, std::span<char> reason) {
    if (!samples || layout.channels < 1 || layout.channels > 4) return false;
    try {
        MemoryInput stream(file);
        Imf::InputFile input(stream);
        const Imath::Box2i window = input.header().dataWindow();
        if (window.min.x != layout.left || window.min.y != layout.top || window.max.x != layout.right ||
            window.max.y != layout.bottom)
            return false;
        const size_t pixelBytes = sizeof(float) * layout.channels;
        const auto width = static_cast<size_t>(int64_t{layout.right} - layout.left + 1);
        Imf::FrameBuffer frame;
        for (uint32_t c = 0; c < layout.channels; ++c)
            frame.insert(layout.names[c],
                         Imf::Slice::Make(Imf::FLOAT, samples + c, window, pixelBytes, pixelBytes * width));
        input.setFrameBuffer(frame);
        input.readPixels(window.min.y, window.max.y);
        return true;
    } catch (const std::bad_alloc&) {
        keepReason("not enough memory", reason);
    } catch (const std::exception& fault) {
        keepReason(fault.what(), reason);
    } catch (...) {
    }
    return false;
}

bool platformEncodeExr(const PixelRows& rows, const ByteSink& sink) {
    if (!sink.write || !rows.first || !rows.floats || rows.channels != 1 || rows.sampleBits != 32 || rows.stride <= 0 || rows.width == 0 ||
        rows.height == 0 || rows.width > INT32_MAX || rows.height > INT32_MAX)
        return false;
    try {
        Imf::Header header(static_cast<int>(rows.width), static_cast<int>(rows.height));
        header.compression() = Imf::ZIP_COMPRESSION;
        header.channels().insert("Y", Imf::Channel(Imf::FLOAT));
        MemoryOutput stream;
        {
            Imf::OutputFile output(stream, header);
            Imf::FrameBuffer frame;
            frame.insert("Y", Imf::Slice(Imf::FLOAT, const_cast<char*>(reinterpret_cast<const char*>(rows.first)),
                                         sizeof(float), static_cast<size_t>(rows.stride)));
            output.setFrameBuffer(frame);
            output.writePixels(static_cast<int>(rows.height));
        }
        return sink.write(sink.context, stream.bytes().data(), stream.bytes().size());
    } catch (...) {
        return false;
    }
}
