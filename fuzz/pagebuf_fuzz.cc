// The page buffer against a model.  The model is the plain byte-at-a-time
// page cache: one page held, a page switch writes back the dirty prefix and
// loads the new page (zero past the end of the file), and the file is the
// bytes written back.  A sequence of transfers, page switches, clears and
// closes taken from the input runs on both; after every step the held page,
// its dirty mark, its bytes and every byte read must agree, and at the end
// the file must hold exactly the model's bytes.

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "buf.h"
#include "scratch_file.h"

using fuzzing::take;

namespace {

constexpr int kPage = 512;
constexpr int kPositions = 8 * kPage;  // transfers stay within these file positions

struct Model {
    std::vector<uint8_t> file;
    std::array<uint8_t, kPage> data{};
    int page = -1;
    int dirty = 0;

    void write_back() {
        if (dirty == 0) return;
        const size_t at = static_cast<size_t>(page) * kPage;
        if (file.size() < at + dirty) file.resize(at + dirty, 0);
        std::memcpy(file.data() + at, data.data(), static_cast<size_t>(dirty));
    }
    void load(int n) {
        for (int i = 0; i < kPage; ++i) {
            const size_t at = static_cast<size_t>(n) * kPage + i;
            data[i] = at < file.size() ? file[at] : 0;
        }
        page = n;
        dirty = 0;
    }
    void switch_to(int n) {
        if (n == page) return;
        write_back();
        load(n);
    }
    void get(int start, int n, uint8_t *out) {
        switch_to(start / kPage);
        for (int i = start; i < start + n; ++i) {
            if (i % kPage == 0) switch_to(i / kPage);
            out[i - start] = data[i % kPage];
        }
    }
    void put(int start, int n, const uint8_t *in) {
        switch_to(start / kPage);
        for (int i = start; i < start + n; ++i) {
            if (i % kPage == 0) switch_to(i / kPage);
            data[i % kPage] = in[i - start];
            if (dirty <= i % kPage) dirty = i % kPage + 1;
        }
    }
};

void check(bool ok) {
    if (!ok) std::abort();
}

void check_same(const pagebuf *pb, const Model &m) {
    check(pb->page == m.page && pb->dirty == m.dirty);
    if (m.page >= 0) check(std::memcmp(pb->data, m.data.data(), kPage) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzing::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Model m;
    const int initial = take<uint8_t>(data, size) * 13;  // the file's first bytes
    for (int i = 0; i < initial; ++i) m.file.push_back(static_cast<uint8_t>(i * 7));
    fuzzing::write_scratch(m.file.data(), m.file.size());
    int fd = open(fuzzing::scratch_path().c_str(), O_RDWR);
    if (fd < 0) return 0;
    pagebuf *pb = openb(fd);

    std::vector<uint8_t> got(kPositions), want(kPositions), bytes(kPositions);
    uint8_t stamp = 1;
    for (int step = 0; size > 0 && step < 64; ++step) {
        const uint8_t op = take<uint8_t>(data, size);
        const int start = take<uint16_t>(data, size) % kPositions;
        const int n = take<uint16_t>(data, size) % (kPositions - start + 1);
        switch (op % 8) {
        case 0:
        case 1:
            getb(pb, start, n, got.data());
            m.get(start, n, want.data());
            check(std::memcmp(got.data(), want.data(), static_cast<size_t>(n)) == 0);
            break;
        case 2:
        case 3:
            for (int i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(stamp + i);
            ++stamp;
            putb(pb, start, n, bytes.data());
            m.put(start, n, bytes.data());
            break;
        case 4: {  // change bytes through the page address, then mark it all dirty
            char *p = ptrb(pb, start / kPage);
            m.switch_to(start / kPage);
            p[start % kPage] = static_cast<char>(stamp);
            m.data[start % kPage] = stamp++;
            wrib(pb);
            m.dirty = kPage;
            break;
        }
        case 5:
            clrb(pb);
            m.page = -1;
            m.dirty = 0;
            break;
        case 6:
            wripage(pb);
            m.write_back();
            break;
        case 7:
            closeb(pb);
            m.write_back();
            m.page = -1;
            m.dirty = 0;
            pb = openb(fd);
            break;
        }
        check_same(pb, m);
    }
    closeb(pb);
    m.write_back();
    close(fd);
    check(fuzzing::read_scratch() == m.file);
    return 0;
}
