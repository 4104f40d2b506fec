// A card pulled out while a recording of it plays: every read fails from then
// on. The player stops with the reason in the screen, and Next File goes on
// with the list once the card is back.

#include "player_fixture.h"

#include "core/recording/byte_source.h"

#include <atomic>

namespace korvante::testing {
namespace {

std::atomic<bool> g_cardGone{false};

// The reads of a device that went away fail, for sources opened before and after.
class VanishingSource final : public ByteSource {
public:
    explicit VanishingSource(std::unique_ptr<ByteSource> inner) : m_inner(std::move(inner)) {}
    std::int64_t size() const override { return m_inner->size(); }
    std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
    {
        return g_cardGone ? -1 : m_inner->readAt(offset, buffer, length);
    }

private:
    std::unique_ptr<ByteSource> m_inner;
};

TEST_F(PlayerTest, APulledCardStopsPlaybackWithAReasonAndNextFilePlaysOnceItIsBack)
{
    g_cardGone = false;
    setByteSourceWrapper([](std::unique_ptr<ByteSource> s) -> std::unique_ptr<ByteSource> {
        return std::make_unique<VanishingSource>(std::move(s));
    });
    ASSERT_TRUE(openRow(0));
    QTest::qWait(300);
    g_cardGone = true;
    EXPECT_TRUE(waitFor([this] { return player->screenMessage().contains(QStringLiteral("cannot be read any more")); }))
        << player->screenMessage().toStdString();
    EXPECT_EQ(state(), StateStopped);
    EXPECT_TRUE(player->screenMessage().startsWith(QStringLiteral("Cannot play "))
                && player->screenMessage().contains(QStringLiteral("20120305_142233")))
        << player->screenMessage().toStdString();

    g_cardGone = false;
    setByteSourceWrapper({});
    click(CPlayerMenuDlg::NextFile);
    EXPECT_TRUE(waitFor([this] { return state() == StateRunning && player->currentIndex() == 1; }));
    EXPECT_TRUE(player->screenMessage().isEmpty());
}

} // namespace
} // namespace korvante::testing
