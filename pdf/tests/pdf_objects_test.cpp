// Containers of the PDF object model: lookup, replacement, ownership and links to indirect
// objects.
#include "pdf/pdf_objects.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "pdf/pdf_error.h"

namespace brevis {
namespace {

std::unique_ptr<PdfDictionaryObject> Indirect(int32_t number) {
  auto dictionary = std::make_unique<PdfDictionaryObject>();
  dictionary->MakeIndirect({number, 0});
  return dictionary;
}

float NumberOf(const PdfObject* object) {
  return static_cast<const PdfNumericObject*>(object)->Value();
}

TEST(PdfDictionary, IndirectValueIsStoredAsLinkAndOutlivesTheContainer) {
  const auto target = Indirect(7);
  target->AddNameValue("Type", "Pages");
  {
    auto holder = std::make_unique<PdfDictionaryObject>();
    PdfLink* link = holder->AddValue("Pages", *target);
    ASSERT_EQ(holder->GetIndexedItem(0), link);
    EXPECT_EQ(link->ObjectType(), otLink);
    EXPECT_EQ(link->Value(), (PdfObjectNumber{7, 0}));
    EXPECT_FALSE(link->IsIndirect());
  }
  // The container is gone; the target is intact (the sanitizer build catches a double free).
  EXPECT_EQ(target->ItemCount(), 1u);
  EXPECT_EQ(target->GetIndexedKey(0), "Type");
}

TEST(PdfDictionary, AddValueKeepsPlaceAndSpellingReplaceValueMovesToEnd) {
  PdfDictionaryObject dictionary;
  dictionary.AddNumericValue("Length", 1);
  dictionary.AddNameValue("Filter", "FlateDecode");
  dictionary.AddNumericValue("Count", 3);

  EXPECT_EQ(dictionary.FindValue("length"), 0);
  EXPECT_EQ(dictionary.FindValue("LENGTH"), 0);
  EXPECT_EQ(dictionary.FindValue("Lengt"), -1);

  dictionary.AddNumericValue("LENGTH", 2);
  ASSERT_EQ(dictionary.ItemCount(), 3u);
  EXPECT_EQ(dictionary.GetIndexedKey(0), "Length");
  EXPECT_EQ(NumberOf(dictionary.GetIndexedItem(0)), 2.0f);

  dictionary.ReplaceValue("filter", std::make_unique<PdfNameObject>("DCTDecode"));
  ASSERT_EQ(dictionary.ItemCount(), 3u);
  EXPECT_EQ(dictionary.GetIndexedKey(1), "Count");
  EXPECT_EQ(dictionary.GetIndexedKey(2), "filter");

  dictionary.DeleteValue("COUNT");
  dictionary.DeleteValue("Absent");
  ASSERT_EQ(dictionary.ItemCount(), 2u);
  EXPECT_EQ(dictionary.ValueByName("Count"), nullptr);

  // A null value is ignored.
  EXPECT_EQ(dictionary.AddValue("Nothing", std::unique_ptr<PdfObject>()), nullptr);
  EXPECT_EQ(dictionary.ItemCount(), 2u);
}

TEST(PdfDictionary, KeysCompareIgnoringAsciiCaseOnly) {
  PdfDictionaryObject dictionary;
  dictionary.AddBooleanValue("A\xC4", true);
  EXPECT_EQ(dictionary.FindValue("a\xC4"), 0);
  EXPECT_EQ(dictionary.FindValue("a\xE4"), -1);  // bytes beyond ASCII compare exactly
  EXPECT_EQ(dictionary.FindValue("A@"), -1);
  EXPECT_TRUE(SameKey("Im0", "iM0"));
  EXPECT_FALSE(SameKey("Im0", "Im00"));
}

TEST(PdfArray, AddObjectAndSetIndexedItem) {
  const auto target = Indirect(12);
  PdfArrayObject array;
  array.AddNumericValue(1);
  array.AddObject(*target);
  array.SetIndexedItem(1, std::make_unique<PdfNumericObject>(2.0f));  // inserts, replaces nothing
  array.SetIndexedItem(0, *target);
  array.AddObject(std::unique_ptr<PdfObject>());  // ignored

  ASSERT_EQ(array.ItemCount(), 4u);
  EXPECT_EQ(array.GetIndexedItem(0)->ObjectType(), otLink);
  EXPECT_EQ(NumberOf(array.GetIndexedItem(1)), 1.0f);
  EXPECT_EQ(NumberOf(array.GetIndexedItem(2)), 2.0f);
  EXPECT_EQ(static_cast<PdfLink*>(array.GetIndexedItem(3))->Value(), (PdfObjectNumber{12, 0}));
  EXPECT_THROW(array.SetIndexedItem(9, std::make_unique<PdfNullObject>()), std::out_of_range);
}

TEST(PdfContainers, RefuseToOwnIndirectObjectsOrLinkDirectOnes) {
  PdfDictionaryObject dictionary;
  PdfArrayObject array;
  EXPECT_THROW(dictionary.AddValue("X", Indirect(3)), std::logic_error);
  EXPECT_THROW(array.AddObject(Indirect(3)), std::logic_error);
  const PdfNameObject direct("Name");
  EXPECT_THROW(dictionary.AddValue("X", direct), std::logic_error);
  EXPECT_THROW(array.AddObject(direct), std::logic_error);
}

TEST(PdfStream, LengthMapsToTheDictionaryEntry) {
  PdfStreamObject stream;
  EXPECT_EQ(stream.Dictionary().ItemCount(), 0u);
  EXPECT_EQ(stream.Dictionary().Parent(), &stream);
  for (const auto& access : {+[](PdfStreamObject& s) { (void)s.Length(); },
                             +[](PdfStreamObject& s) { s.SetLength(4); }}) {
    EXPECT_THROW(
        {
          try {
            access(stream);
          } catch (const PdfError& e) {
            EXPECT_STREQ(e.what(), "This stream without a length item");
            throw;
          }
        },
        PdfError);
  }
  stream.Dictionary().AddNumericValue("Length", 2.5f);
  EXPECT_EQ(stream.Length(), 2);  // halves to even
  stream.Dictionary().AddNumericValue("Length", 3.5f);
  EXPECT_EQ(stream.Length(), 4);
  stream.SetLength(16777217);  // beyond float precision, kept exactly
  EXPECT_EQ(stream.Length(), 16777217);
}

}  // namespace
}  // namespace brevis
