// The shared helpers of the parser interface and the table descriptor.
#include <string>

#include <gtest/gtest.h>

#include "core/parser.h"

using namespace veltrane;

TEST(ParserModel, NormaliseTypeName) {
  EXPECT_EQ(NormaliseTypeName("nvarchar(40)"), "varchar(40)");
  EXPECT_EQ(NormaliseTypeName("LongVarChar"), "varchar");
  EXPECT_EQ(NormaliseTypeName("blob"), "OLE Object");
  EXPECT_EQ(NormaliseTypeName("int"), "INT");
}

TEST(ParserModel, IsKnownType) {
  EXPECT_TRUE(IsKnownType("yes no"));
  EXPECT_TRUE(IsKnownType(" integer "));
  EXPECT_TRUE(IsKnownType("OLE Object"));
  EXPECT_FALSE(IsKnownType("VARCHAR"));
  EXPECT_FALSE(IsKnownType(""));
}

TEST(ParserModel, CleanIdentifier) {
  EXPECT_EQ(CleanIdentifier("[order id]< P.K >"), "orderid");
  EXPECT_EQ(CleanIdentifier("`\xC3\xBC\xC3\xB1`"), "\xC3\xBC\xC3\xB1");  // non-ASCII letters only
  EXPECT_EQ(CleanIdentifier(" 'x y' "), "xy");
  EXPECT_EQ(CleanIdentifier(" ' ' "), " ");
}

TEST(ParserModel, DescriptorsComeApart) {
  const TableDescriptorParts emp = ParseTableDescriptor("emp+id< P.K >~name~#5");
  EXPECT_EQ(emp.name, "emp");
  EXPECT_EQ(emp.columns, (std::vector<std::string>{"id< P.K >", "name"}));
  EXPECT_EQ(emp.keyMark, 10);
  EXPECT_EQ(emp.rootPage, 5);

  const TableDescriptorParts second = ParseTableDescriptor("t +a~b< P.K >~#12");
  EXPECT_EQ(second.name, "t ");
  EXPECT_EQ(second.keyMark, 11);

  const TableDescriptorParts none = ParseTableDescriptor("e+#3");
  EXPECT_TRUE(none.columns.empty());
  EXPECT_EQ(none.keyMark, 0);
  EXPECT_EQ(none.rootPage, 3);

  EXPECT_EQ(StripKeyMark("id< P.K >"), "id");
}

TEST(ParserModel, BaseDefaultsDoNothing) {
  sqlite_base base;
  EXPECT_TRUE(base.SaveDatabase("x"));
  EXPECT_EQ(base.CountEntries(), 0u);
  EXPECT_EQ(base.CountRows("x", 2), 0u);
  EXPECT_EQ(base.NormaliseTypeName("int"), "");
  EXPECT_TRUE(base.IsKnownType("nonsense"));
  EXPECT_EQ(base.CleanIdentifier("abc"), "");
}
