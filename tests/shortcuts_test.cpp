#include "install/shortcuts.h"

#include <gtest/gtest.h>

namespace {

TEST(Shortcuts, PathsTakeNameAndIconFromTheirOwnColumns)
{
    EXPECT_EQ(ShortcutPath(LR"(C:\S\Pivra Suite)", PlaceTable[1]), LR"(C:\S\Pivra Suite\Pivra Suite Messaging.lnk)");
    EXPECT_EQ(PlaceIconPath(LR"(C:\P\Pivra Suite All In One)", PlaceTable[1]),
              LR"(C:\P\Pivra Suite All In One\icons\chat.ico)");
    EXPECT_EQ(PlaceIconPath(LR"(C:\P\Pivra Suite All In One)", PlaceTable[5]),
              LR"(C:\P\Pivra Suite All In One\icons\friends.ico)");
    EXPECT_EQ(ShortcutPath(LR"(C:\S\Pivra Suite)", PlaceTable[0]), LR"(C:\S\Pivra Suite\Pivra Suite All In One.lnk)");
}

}  // namespace
