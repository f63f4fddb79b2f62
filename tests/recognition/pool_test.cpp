// SPDX-License-Identifier: GPL-3.0-or-later
// The recognising pool when a picture fails under it: the page's text says why, the pool goes on.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "recognition/recognition.h"

namespace recognition {
namespace {

// A picture whose pixels cannot be had: its file went away, or memory ran out.
class Failing : public imaging::ImageSource {
public:
    explicit Failing(bool memory) : m_memory(memory) {}
    imaging::ImageFormat format() const override {
        imaging::ImageFormat f;
        f.width = 2480, f.height = 3508;
        return f;
    }
    void writeData(const imaging::DataSink&) const override {}
    imaging::GreyImage grey(int) const override {
        if (m_memory) throw std::bad_alloc();
        throw std::runtime_error("the file went away");
    }
    std::string description() const override { return "failing"; }
    bool stillAsChecked() const override { return true; }

private:
    bool m_memory;
};

TEST(TextRecognition, APictureThatFailsEndsItsOwnTextOnly) {
    std::atomic<std::uint64_t> progress{0};
    TextRecognition pool(&progress, 1);
    const struct {
        bool memory;
        const char* error;
    } cases[] = {{false, "recognition failed: the file went away"}, {true, "not enough memory to recognise the text"}};
    for (int round = 0; round < 2; ++round)  // the one worker lives on to take the next picture
        for (const auto& c : cases) {
            const auto pending = pool.start(std::make_shared<Failing>(c.memory), "eng", 300, 1, false);
            EXPECT_EQ(pending->get().reason().toStdString(), c.error);
            EXPECT_FALSE(pending->get());
        }
    pool.waitUntilAtMost(0, 10000);  // (a text is given before its worker counts it ended)
    EXPECT_EQ(pool.count().ended, 4);
}

}  // namespace
}  // namespace recognition
