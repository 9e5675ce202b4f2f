// The request cipher with the application's key.
#include "cipher/rsa.h"

#include <gtest/gtest.h>

namespace brevis {
namespace {

class RsaTest : public ::testing::Test {
 protected:
  RSA rsa_{kAppKeyN, kAppKeyE, kAppKeyD};
};

TEST_F(RsaTest, RoundTripsApplicationNumbersAndAddresses) {
  const std::u16string texts[] = {u"200710038426", u"2007100384263",
                                  u"12\thttp://127.0.0.1:8080/pages/CN200710038426",
                                  std::u16string(1, u'\0'), u"\u00E9~ "};
  for (const auto& text : texts) {
    const std::u16string cipher = rsa_.Encrypt(text);
    ASSERT_EQ(cipher.size(), 4 * text.size());
    EXPECT_EQ(cipher.find_first_not_of(u"0123456789"), std::u16string::npos);
    EXPECT_EQ(rsa_.Decrypt(cipher), text);
  }
}

TEST_F(RsaTest, GroupsAreModularPowers) {
  // 0 -> 0000; '1' (49) -> 49^157 mod 2773 = 1084, written "%.4d".
  EXPECT_EQ(rsa_.Encrypt(std::u16string(1, u'\0')), u"0000");
  EXPECT_EQ(rsa_.Encrypt(u"1"), u"1084");
  EXPECT_EQ(rsa_.Decrypt(u"1084"), u"1");
  EXPECT_EQ(rsa_.Encrypt(u"\u0001"), u"0001");
  EXPECT_EQ(rsa_.Decrypt(u"0000"), std::u16string(1, u'\0'));
}

TEST_F(RsaTest, EmptyAndPartialGroups) {
  EXPECT_EQ(rsa_.Encrypt(u""), u"");
  EXPECT_EQ(rsa_.Decrypt(u"123"), u"");
  const std::u16string cipher = rsa_.Encrypt(u"200710038426");
  EXPECT_EQ(rsa_.Decrypt(cipher + u"9"), u"200710038426");
  EXPECT_EQ(rsa_.Decrypt(cipher + u"99"), u"200710038426");
}

TEST_F(RsaTest, UnitsAboveTheModulusComeBackReduced) {
  const std::u16string text(1, u'\u4E2D');  // 20013
  EXPECT_EQ(rsa_.Decrypt(rsa_.Encrypt(text)), std::u16string(1, char16_t{20013 % 2773}));
  // A group at or above the modulus is reduced before the power is taken.
  EXPECT_EQ(rsa_.Decrypt(u"2773"), std::u16string(1, u'\0'));
}

TEST_F(RsaTest, BadGroupsRaiseConversionErrors) {
  EXPECT_THROW(rsa_.Decrypt(u"12a4"), ConvertError);
  EXPECT_THROW(rsa_.Decrypt(u"00491x23"), ConvertError);
  try {
    rsa_.Decrypt(u"12a4");
  } catch (const ConvertError& e) {
    EXPECT_STREQ(e.what(), "'12a4' is not a valid integer value");
  }
  // Leading characters that are neither digits nor "-" are skipped within a group.
  EXPECT_EQ(rsa_.Decrypt(u"ab01"), rsa_.Decrypt(u"0001"));
}

}  // namespace
}  // namespace brevis
