#include "platform/jpegrows.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <csetjmp>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

namespace jpegrows {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the band that set the buffer. Nothing with a
// destructor may live between the setjmp and the longjmp.
struct ErrorManager : jpeg_error_mgr
{
    std::jmp_buf jump;
};

extern "C" void errorExit(j_common_ptr cinfo)
{
    std::longjmp(static_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

// Warnings ("Corrupt JPEG data: premature end of data segment") change
// nothing in the result; Qt's reader goes on after them just the same.
extern "C" void silent(j_common_ptr) {}

// A decompressor whose errors jump back to the caller's setjmp and whose
// warnings are kept quiet.
void createDecompress(jpeg_decompress_struct &cinfo, ErrorManager &err)
{
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = errorExit;
    err.output_message = silent;
    jpeg_create_decompress(&cinfo);
}

// How much of a full decode it costs to entropy-decode rows without making
// pixels of them: about half for grainy photographs at quality 90, measured
// as the extra processor time two bands take over one.
constexpr double kSkipCost = 0.45;

bool takes(const jpeg_decompress_struct &cinfo)
{
    if (cinfo.progressive_mode || cinfo.arith_code || cinfo.data_precision != 8)
        return false;
    if (cinfo.image_width == 0 || cinfo.image_height == 0)
        return false;
    const auto plainSampling = [](const jpeg_component_info &c, int maxFactor) {
        return c.h_samp_factor >= 1 && c.h_samp_factor <= maxFactor && c.v_samp_factor >= 1
            && c.v_samp_factor <= maxFactor;
    };
    if (cinfo.num_components == 1)
        return cinfo.jpeg_color_space == JCS_GRAYSCALE && plainSampling(cinfo.comp_info[0], 1);
    if (cinfo.num_components == 3)
        return (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB)
            && plainSampling(cinfo.comp_info[0], 2) && plainSampling(cinfo.comp_info[1], 1)
            && plainSampling(cinfo.comp_info[2], 1);
    return false;
}

struct Band
{
    int first = 0; // rows [first, last)
    int last = 0;
    bool finish = false; // the last band reads on to the end, as Qt's reader does
    bool failed = false;
};

// Where a band's rows go: into the picture's memory, or written to a file
// from a buffer of kRows rows.
struct Target
{
    unsigned char *bits = nullptr;
    int fd = -1;
    std::ptrdiff_t bytesPerLine = 0;
};

constexpr int kRows = 16;

bool writeAll(int fd, const unsigned char *from, std::size_t bytes, off_t offset)
{
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd, from, bytes, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        from += n;
        bytes -= std::size_t(n);
        offset += n;
    }
    return true;
}

// Decodes one band. `buffer` holds kRows rows where the rows go to a file.
// Returns false on any libjpeg error or failed write.
bool decodeBand(const unsigned char *data, std::size_t size, const Target &target, unsigned char *buffer,
                const Band &band)
{
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    createDecompress(cinfo, err);
    volatile bool ok = false;
    if (setjmp(err.jump) == 0) {
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
        jpeg_read_header(&cinfo, TRUE);
        if (cinfo.num_components == 3)
            cinfo.out_color_space = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? JCS_EXT_BGRX : JCS_EXT_XRGB;
        else if (cinfo.num_components == 4)
            cinfo.out_color_space = JCS_CMYK;
        jpeg_start_decompress(&cinfo);
        if (band.first > 0)
            jpeg_skip_scanlines(&cinfo, JDIMENSION(band.first));
        const std::ptrdiff_t bytesPerLine = target.bytesPerLine;
        bool written = true;
        JSAMPROW rows[kRows];
        while (written && int(cinfo.output_scanline) < band.last) {
            const int y = int(cinfo.output_scanline);
            const int count = std::min<int>(kRows, band.last - y);
            unsigned char *first = target.bits ? target.bits + y * bytesPerLine : buffer;
            for (int i = 0; i < count; ++i)
                rows[i] = first + i * bytesPerLine;
            const JDIMENSION got = jpeg_read_scanlines(&cinfo, rows, JDIMENSION(count));
            if (got == 0)
                break; // suspended: cannot happen with a memory source
            if (!target.bits)
                written = writeAll(target.fd, buffer, std::size_t(got) * std::size_t(bytesPerLine),
                                   off_t(y) * bytesPerLine);
        }
        if (written && band.finish && cinfo.output_scanline == cinfo.output_height)
            jpeg_finish_decompress(&cinfo);
        ok = written && int(cinfo.output_scanline) >= band.last;
    }
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

// Band starts that give every thread the same work: a band lower down first
// skips more rows, so it gets fewer rows of its own. Aligned to whole groups
// of rows, so no thread decodes a group twice.
std::vector<int> bandStarts(int height, int group, int threads)
{
    // Thread k's work is kSkipCost * s_k + (s_{k+1} - s_k) for equal t:
    // s_{k+1} = t + (1 - kSkipCost) s_k, and s_threads = height.
    const double keep = 1.0 - kSkipCost;
    double unitSum = 0; // s_threads for t = 1
    for (int k = 0; k < threads; ++k)
        unitSum = 1.0 + keep * unitSum;
    const double t = height / unitSum;
    std::vector<int> starts{0};
    double s = 0;
    for (int k = 1; k < threads; ++k) {
        s = t + keep * s;
        const int aligned = std::clamp(int(s / group + 0.5) * group, starts.back(), height);
        starts.push_back(aligned);
    }
    starts.push_back(height);
    return starts;
}

} // namespace

bool readHeader(const unsigned char *data, std::size_t size, Header *header, const MarkerVisitor &marker)
{
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    createDecompress(cinfo, err);
    if (setjmp(err.jump) == 0) {
        jpeg_save_markers(&cinfo, JPEG_COM, 0xFFFF);
        jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
        jpeg_read_header(&cinfo, TRUE);
        header->ok = true;
        header->suitable = takes(cinfo);
        header->cmyk = cinfo.num_components == 4 && !cinfo.progressive_mode && !cinfo.arith_code
            && cinfo.data_precision == 8 && cinfo.image_width > 0 && cinfo.image_height > 0
            && (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK);
        header->inverted = cinfo.saw_Adobe_marker;
        header->width = int(cinfo.image_width);
        header->height = int(cinfo.image_height);
        header->components = cinfo.num_components;
        header->rowsPerGroup = cinfo.max_v_samp_factor * DCTSIZE;
        header->densityUnit = cinfo.density_unit;
        header->xDensity = cinfo.X_density;
        header->yDensity = cinfo.Y_density;
        if (marker) {
            for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
                marker(m->marker, m->data, m->data_length);
        }
    }
    jpeg_destroy_decompress(&cinfo);
    return header->ok;
}

namespace {

bool decodeBands(const unsigned char *data, std::size_t size, const Header &header, const Target &target,
                 int threads)
{
    const int groups = (header.height + header.rowsPerGroup - 1) / header.rowsPerGroup;
    const int bandCount = std::clamp(threads, 1, std::max(1, groups));
    const std::vector<int> starts = bandStarts(header.height, header.rowsPerGroup, bandCount);
    std::vector<Band> bands(static_cast<size_t>(bandCount));
    for (int k = 0; k < bandCount; ++k) {
        bands[size_t(k)].first = starts[size_t(k)];
        bands[size_t(k)].last = starts[size_t(k) + 1];
        bands[size_t(k)].finish = k == bandCount - 1;
    }
    const auto run = [&](Band &band) {
        if (band.first < band.last || band.finish) {
            std::vector<unsigned char> buffer;
            if (target.bits) {
                prefault(target.bits + std::ptrdiff_t(band.first) * target.bytesPerLine,
                         std::size_t(band.last - band.first) * std::size_t(target.bytesPerLine));
            } else {
                try {
                    buffer.resize(std::size_t(kRows) * std::size_t(target.bytesPerLine));
                } catch (const std::bad_alloc &) {
                    band.failed = true;
                    return;
                }
            }
            band.failed = !decodeBand(data, size, target, buffer.data(), band);
        }
    };
    std::vector<std::thread> helpers;
    for (size_t k = 1; k < bands.size(); ++k) {
        try {
            helpers.emplace_back(run, std::ref(bands[k]));
        } catch (const std::system_error &) {
            run(bands[k]); // no thread to be had: this one does it
        }
    }
    run(bands[0]);
    for (std::thread &helper : helpers)
        helper.join();
    return std::none_of(bands.begin(), bands.end(), [](const Band &band) { return band.failed; });
}

} // namespace

bool decode(const unsigned char *data, std::size_t size, const Header &header, unsigned char *bits,
            std::ptrdiff_t bytesPerLine, int threads)
{
    return decodeBands(data, size, header, Target{bits, -1, bytesPerLine}, threads);
}

bool decodeToFile(const unsigned char *data, std::size_t size, const Header &header, int fd,
                  std::ptrdiff_t bytesPerLine, int threads)
{
    return decodeBands(data, size, header, Target{nullptr, fd, bytesPerLine}, threads);
}

void prefault(void *begin, std::size_t bytes)
{
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;
#endif
    static const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    // Whole pages inside the range only: a page shared with whatever lies
    // around the range is left to fault as usual.
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) / page * page;
    const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(begin) + bytes) / page * page;
    if (to > from)
        ::madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
}

void prefaultAndRead(void *begin, std::size_t bytes)
{
    prefault(begin, bytes);
    static const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(begin);
    for (std::uintptr_t p = start; p < start + bytes; p = (p / page + 1) * page)
        (void)*reinterpret_cast<const volatile unsigned char *>(p);
}

} // namespace jpegrows
