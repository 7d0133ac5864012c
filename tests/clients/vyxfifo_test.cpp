// The reader library against the module's own writer code, and the Python reader on the same
// segments: all three agree on the layouts.
#include "vyxfifo.h"

#include "msl/mipc/mnamedevent.h"
#include "msl/mipc/msharedmem.h"
#include "tests/msl/ringvariants.h"
#include "tests/support/childprocess.h"
#include "tests/support/rawsegment.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using vyx::test::Variant;

constexpr size_t kBlock = 16;

// A FIFO of four blocks as the machine makes it; blocks 1 to 3 hold images of their number.
struct Ring {
    explicit Ring(const Variant& v) : v(v), name(vyx::test::UniqueName("vyxfifotest")) {
        base = MSharedMem_Create(name.c_str(), 4096);
        v.create(base, 4, kBlock);
        for (int n = 1; n <= 3; ++n)
            std::memset(v.write(base), n, kBlock);
    }
    ~Ring() {
        v.deactivate(base);
        MSharedMem_Unlink(base);
    }
    const Variant& v;
    const std::string name;
    void* base = nullptr;
};

std::string Block(const vyxfifo* fifo, uint64_t number) {
    const void* block = vyxfifo_block(fifo, number);
    return block == nullptr ? "free" : std::string(static_cast<const char*>(block), kBlock);
}

// The Python reader (clients/python/lintelclient) reads the same segments; the Windows build
// has no Python beside it.
TEST(Vyxfifo, ReadsAndReleasesWhatTheMachineWrote) {
#if !defined(_WIN32)
    const char* python = std::getenv("VYX_CLIENT_PYTHON");
    ASSERT_NE(python, nullptr) << "VYX_CLIENT_PYTHON names the interpreter (set by ctest)";
    vyx::test::TempDir temp;
#endif
    for (const Variant* v : {&vyx::test::kWide, &vyx::test::kNarrow}) {
        SCOPED_TRACE(v->name);
        Ring ring(*v);
        char error[256] = "";
        vyxfifo* fifo = vyxfifo_open(ring.name.c_str(), error, sizeof error);
        ASSERT_NE(fifo, nullptr) << error;
        EXPECT_EQ(vyxfifo_variant(fifo), v->word == 8 ? 64 : 32);
        EXPECT_EQ(vyxfifo_block_size(fifo), kBlock);
        EXPECT_EQ(vyxfifo_num_blocks(fifo), 4u);
        EXPECT_EQ(vyxfifo_num_used(fifo), 3u);
        EXPECT_EQ(Block(fifo, 2), std::string(kBlock, '\2'));
        for (uint64_t free : {0ull, 4ull, 5ull, 1ull << 33})
            EXPECT_EQ(Block(fifo, free), "free") << free;
        EXPECT_EQ(vyxfifo_release(fifo, 2), 1);
        EXPECT_EQ(vyxfifo_release(fifo, 2), 0);
        EXPECT_EQ(v->isUsed(ring.base, 2), 0);
#if !defined(_WIN32)
        const char* script = "import sys\n"
                             "from lintelclient import ImageFifo\n"
                             "with ImageFifo(sys.argv[1]) as f:\n"
                             "    print(f.variant, f.num_entries, f.block_size, f.used(),\n"
                             "          f.read(3)[0], f.release(1), f.in_use(2), f.in_use(3))\n";
        const std::string out = temp.File("out"), err = temp.File("err");
        ASSERT_EQ(vyx::test::RunProgram(python, {"-c", script, ring.name}, out, err), 0)
            << vyx::test::ReadFileBytes(err);
        EXPECT_EQ(vyx::test::ReadFileBytes(out),
                  std::string(v->word == 8 ? "64" : "32") + " 4 16 2 3 True False True\n");
        EXPECT_EQ(Block(fifo, 1), "free");
        EXPECT_EQ(vyxfifo_num_used(fifo), 1u);
#endif
        EXPECT_EQ(vyxfifo_active(fifo), 1);
        v->deactivate(ring.base);
        EXPECT_EQ(vyxfifo_active(fifo), 0);
        vyxfifo_close(fifo);
    }
}

TEST(Vyxfifo, RefusesWhatHoldsNoUsableRing) {
    vyx::test::RawSegment bad("vyxfifobad", 4096);
    ASSERT_NE(bad.bytes, nullptr);
    const std::string missing = vyx::test::UniqueName("vyxfifonone");
    struct Case {
        const char* name;
        uint8_t tag;
        uint64_t blocks;
        const char* said;
    } cases[] = {{missing.c_str(), 0, 0, "cannot open segment"},
                 {"a/b", 0, 0, "contains '/'"},
                 {bad.name.c_str(), 5, 1, "holds no ring buffer"},
                 {bad.name.c_str(), 8, 1ull << 60, "does not fit the segment"},
                 {bad.name.c_str(), 4, 1000, "does not fit the segment"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said);
        bad.bytes[0] = c.tag;
        // Blocks of 16 bytes, lock words right after them, in the layout the tag names.
        if (c.tag == 8) {
            bad.Put<uint64_t>(8, 16);
            bad.Put<uint64_t>(16, c.blocks);
            bad.Put<uint64_t>(32, 64 + 16 * c.blocks);
        } else {
            bad.Put<uint32_t>(4, 16);
            bad.Put<uint32_t>(8, uint32_t(c.blocks));
            bad.Put<uint32_t>(16, uint32_t(32 + 16 * c.blocks));
        }
        char error[256] = "";
        EXPECT_EQ(vyxfifo_open(c.name, error, sizeof error), nullptr);
        EXPECT_NE(std::strstr(error, c.said), nullptr) << error;
    }
    EXPECT_EQ(vyxfifo_preview_open(missing.c_str(), nullptr, 0), nullptr);
}

TEST(Vyxfifo, PreviewWaitsForThePictureAndAsksForTheNext) {
    const std::string name = vyx::test::UniqueName("vyxfifopreview");
    void* picture = MSharedMem_Create(name.c_str(), 64);
    MNamedEvent* event = MNamedEvent_Create((name + ".event").c_str());
    ASSERT_NE(event, nullptr);
    char error[256] = "";
    vyxfifo_preview* preview = vyxfifo_preview_open(name.c_str(), error, sizeof error);
    ASSERT_NE(preview, nullptr) << error;
    EXPECT_EQ(vyxfifo_preview_wait(preview, 0), 0);
    std::memset(picture, 'p', 64);
    MNamedEvent_Signal(event);
    EXPECT_EQ(vyxfifo_preview_wait(preview, 60000), 1);
    EXPECT_GE(vyxfifo_preview_size(preview), 64u);
    EXPECT_EQ(static_cast<const char*>(vyxfifo_preview_data(preview))[63], 'p');
    EXPECT_EQ(vyxfifo_preview_done(preview), 1);
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0);
    vyxfifo_preview_close(preview);
    MNamedEvent_Close(event);
    // A picture without its event is no preview memory.
    EXPECT_EQ(vyxfifo_preview_open(name.c_str(), error, sizeof error), nullptr);
    EXPECT_NE(std::strstr(error, "has no event"), nullptr) << error;
    MSharedMem_Unlink(picture);
}

} // namespace
