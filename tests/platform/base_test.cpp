#include "platform/oleauto/comptr.h"

#include <gtest/gtest.h>

TEST(BaseTest, BstrKeepsLengthAndConvertsBothWays) {
    BStr b(SysAllocStringUtf8("Größe \xF0\x9F\x98\x80"));
    EXPECT_EQ(SysStringLen(b.Get()), 8u);  // the emoji is a surrogate pair
    EXPECT_EQ(b.Utf8(), "Größe \xF0\x9F\x98\x80");
    EXPECT_EQ(BstrToUtf8(nullptr), "");
    EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // a lone surrogate becomes U+FFFD
}

TEST(BaseTest, GuidTextRoundTrip) {
    GUID g;
    ASSERT_TRUE(GuidFromString("{00020400-0000-0000-c000-000000000046}", &g));
    EXPECT_TRUE(IsEqualGUID(g, IID_IDispatch));
    EXPECT_EQ(GuidToString(g), "{00020400-0000-0000-C000-000000000046}");
    EXPECT_FALSE(GuidFromString("{00020400-0000-0000-C000-00000000004}", &g));
    EXPECT_FALSE(GuidFromString("{0002040G-0000-0000-C000-000000000046}", &g));
}

TEST(BaseTest, VariantCopyDuplicatesStrings) {
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    a.vt = VT_BSTR;
    a.bstrVal = SysAllocStringUtf8("x");
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(a.bstrVal, b.bstrVal);
    VariantClear(&a);
    EXPECT_EQ(BstrToUtf8(b.bstrVal), "x");
    VariantClear(&b);
    EXPECT_EQ(b.vt, VT_EMPTY);
}
