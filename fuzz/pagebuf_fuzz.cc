// The page buffer against a model.  The model is the plain byte-at-a-time
// page cache: one page held, a page switch writes back the dirty prefix and
// loads the new page (zero past the end of the file), and the file is the
// bytes written back.  A page whose load failed holds zeros that are not the
// file's, so its write-back puts only the bytes changed since in the file.  A sequence of transfers, page switches, clears and
// closes taken from the input runs on both; after every step the held page,
// its dirty mark, its bytes and every byte read must agree, and at the end
// the file must hold exactly the model's bytes.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "buf.h"
#include "faults.h"
#include "pagestate.h"
#include "scratch_file.h"

using fuzzing::take;

namespace {

constexpr int kPage = 512;
constexpr int kPositions = 8 * kPage;  // transfers stay within these file positions

// The one injected failure, as the model meets it: the model counts the
// calls the buffer makes as the injector does, and fails the same one.
struct Failure {
    int target = 0;  // the call that fails, from 1; 0 for none
    faults::Kind kind = faults::Kind::kEIO;
    int seen = 0;
    bool in_this_buffer = false;  // a failure hit the buffer now open

    // Counts one call; true when it fails and is not simply retried
    // (interrupted and short transfers are).
    bool strikes(bool transfer) {
        if (target == 0 || (kind == faults::Kind::kShort && !transfer) || ++seen != target) return false;
        if (transfer && (kind == faults::Kind::kShort || kind == faults::Kind::kEINTR)) return false;
        in_this_buffer = true;
        return true;
    }
    // A positioning followed by `calls` reads or writes; true when it fails.
    bool transfer_fails(int calls) {
        if (strikes(false)) return true;
        for (int i = 0; i < calls; ++i)
            if (strikes(true)) return true;
        return false;
    }
};

struct Model {
    Failure failure;
    std::vector<uint8_t> file;
    std::array<uint8_t, kPage> data{};
    int page = -1;
    int dirty = 0;
    bool load_failed = false;
    int changed_from = kPage;  // first byte changed since a failed load

    void write_back() {
        const int from = load_failed ? std::min(changed_from, dirty) : 0;
        if (dirty == from) return;
        if (failure.transfer_fails(1)) return;
        const size_t at = static_cast<size_t>(page) * kPage;
        if (file.size() < at + dirty) file.resize(at + dirty, 0);
        std::memcpy(file.data() + at + from, data.data() + from, static_cast<size_t>(dirty - from));
    }
    void load(int n) {
        page = n;
        dirty = 0;
        load_failed = false;
        changed_from = kPage;
        // A page that the file ends within takes a second read, which finds the end.
        const size_t first = static_cast<size_t>(n) * kPage;
        const bool partial = file.size() > first && file.size() < first + kPage;
        if (failure.transfer_fails(partial ? 2 : 1)) {
            data.fill(0);
            load_failed = true;
            return;
        }
        for (size_t i = 0; i < kPage; ++i) data[i] = first + i < file.size() ? file[first + i] : 0;
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
            changed_from = std::min(changed_from, i % kPage);
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
    // The call to fail (0: none) and how.
    const int fail_call = take<uint8_t>(data, size) % 64;
    const auto fail_kind = static_cast<faults::Kind>(take<uint8_t>(data, size) % 4);
    for (int i = 0; i < initial; ++i) m.file.push_back(static_cast<uint8_t>(i * 7));
    fuzzing::write_scratch(m.file.data(), m.file.size());
    int fd = open(fuzzing::scratch_path().c_str(), O_RDWR);
    if (fd < 0) return 0;
    pagebuf *pb = openb(fd);
    std::optional<faults::FaultInjector> injector;
    if (fail_call > 0) injector.emplace(fail_kind, fail_call);
    m.failure.target = fail_call;
    m.failure.kind = fail_kind;
    // The buffer's error state shows exactly the failure the model has met.
    const auto check_error_state = [&](int error) { check((error != 0) == m.failure.in_this_buffer); };

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
            m.changed_from = 0;
            break;
        }
        case 5:
            clrb(pb);
            m.page = -1;
            m.dirty = 0;
            m.load_failed = false;
            break;
        case 6:
            wripage(pb);
            m.write_back();
            break;
        case 7: {
            const int error = zulu::pages::close(pb);
            m.write_back();
            check_error_state(error);
            m.page = -1;
            m.dirty = 0;
            m.load_failed = false;
            m.failure.in_this_buffer = false;
            pb = openb(fd);
            break;
        }
        }
        check_same(pb, m);
        check_error_state(zulu::pages::first_error(pb));
    }
    const int error = zulu::pages::close(pb);
    m.write_back();
    check_error_state(error);
    injector.reset();
    close(fd);
    check(fuzzing::read_scratch() == m.file);
    return 0;
}
