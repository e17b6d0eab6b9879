#include "OggWriter.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>

namespace OggWriter {

namespace {

void append(std::vector<uint8_t>& out, const ogg_page& page)
{
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
}

// The encoder's state, cleared in reverse order of its making.
struct Encoder
{
    vorbis_info info{};
    vorbis_comment comment{};
    vorbis_dsp_state dsp{};
    vorbis_block block{};
    ogg_stream_state stream{};
    bool analysing = false;

    Encoder() { vorbis_info_init(&info); }
    ~Encoder()
    {
        if (analysing) {
            ogg_stream_clear(&stream);
            vorbis_block_clear(&block);
            vorbis_dsp_clear(&dsp);
            vorbis_comment_clear(&comment);
        }
        vorbis_info_clear(&info);
    }

    // Hands every finished block to the stream and its full pages to out.
    void drain(std::vector<uint8_t>& out)
    {
        ogg_packet packet;
        ogg_page page;
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page))
                    append(out, page);
            }
        }
    }
};

}

std::vector<uint8_t> ogg(uint16_t channels, uint32_t samplesPerSecond, const int16_t* samples, uint32_t frames,
                         float quality)
{
    if (channels == 0 || samplesPerSecond == 0 || (frames && !samples))
        return {};
    Encoder encoder;
    if (vorbis_encode_init_vbr(&encoder.info, channels, long(samplesPerSecond), quality) != 0)
        return {};
    vorbis_comment_init(&encoder.comment);
    vorbis_analysis_init(&encoder.dsp, &encoder.info);
    vorbis_block_init(&encoder.dsp, &encoder.block);
    // A fixed serial number: the same input gives the same file.
    ogg_stream_init(&encoder.stream, 0x4B6F7276);
    encoder.analysing = true;

    std::vector<uint8_t> out;
    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&encoder.dsp, &encoder.comment, &header, &comments, &codebooks);
    ogg_stream_packetin(&encoder.stream, &header);
    ogg_stream_packetin(&encoder.stream, &comments);
    ogg_stream_packetin(&encoder.stream, &codebooks);
    ogg_page page;
    while (ogg_stream_flush(&encoder.stream, &page))
        append(out, page);

    constexpr uint32_t chunk = 4096;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t count = std::min(chunk, frames - done);
        float** buffer = vorbis_analysis_buffer(&encoder.dsp, int(count));
        for (uint32_t i = 0; i < count; ++i)
            for (uint16_t c = 0; c < channels; ++c)
                buffer[c][i] = float(samples[size_t(done + i) * channels + c]) / 32768.0f;
        vorbis_analysis_wrote(&encoder.dsp, int(count));
        encoder.drain(out);
        done += count;
    }
    vorbis_analysis_wrote(&encoder.dsp, 0);
    encoder.drain(out);
    while (ogg_stream_flush(&encoder.stream, &page))
        append(out, page);
    return out;
}

}
