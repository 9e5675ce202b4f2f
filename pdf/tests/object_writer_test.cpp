// The exact text of every object kind, line breaking in arrays and renumbering.
#include "pdf/object_writer.h"

#include <gtest/gtest.h>

#include <functional>

#include "pdf/pdf_error.h"

namespace brevis {
namespace {

std::string Written(PdfObject& object, bool nested = true, int* counted = nullptr) {
  MemoryStream out;
  ObjectWriter writer(out);
  const int length = writer.WriteObject(object, nested);
  if (counted != nullptr) *counted = length;
  return out.ToString();
}

std::unique_ptr<PdfLink> LinkTo(int32_t number) {
  return std::make_unique<PdfLink>(PdfObjectNumber{number, 0});
}

TEST(ObjectWriter, DirectObjects) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<PdfObject>()> make;
    const char* text;
    int counted;
  };
  const Case kCases[] = {
      // Simple kinds.
      {"true", [] { return std::make_unique<PdfBooleanObject>(true); }, "true", 4},
      {"false", [] { return std::make_unique<PdfBooleanObject>(false); }, "false", 5},
      {"null", [] { return std::make_unique<PdfNullObject>(); }, "null", 4},
      {"number", [] { return std::make_unique<PdfNumericObject>(595.28f); }, "595.2800293", 11},
      {"link", [] { return LinkTo(10); }, "10 0 R", 6},
      {"link to nothing", [] { return LinkTo(0); }, "0 0 R", 5},
      // Names: outer bytes up to 32 dropped, inner blanks as #20, nothing else escaped.
      {"name", [] { return std::make_unique<PdfNameObject>(" a b \t"); }, "/a#20b", 6},
      {"name delimiters", [] { return std::make_unique<PdfNameObject>("a#(/)"); }, "/a#(/)", 6},
      // Strings.
      {"literal", [] { return std::make_unique<PdfStringObject>("a(b)\\c\n"); },
       "(a\\(b\\)\\\\c\\n)", 13},
      {"empty literal", [] { return std::make_unique<PdfStringObject>(); }, "()", 2},
      {"hexadecimal", [] { return std::make_unique<PdfStringObject>("0A1B", true); }, "<0A1B>", 6},
      // Containers.
      {"empty array", [] { return std::make_unique<PdfArrayObject>(); }, "[  ]", 2},
      {"empty dictionary", [] { return std::make_unique<PdfDictionaryObject>(); }, "<< >> ", 4},
      {"resources",
       [] {
         auto resources = std::make_unique<PdfDictionaryObject>();
         auto* procSet = resources->AddValue("ProcSet", std::make_unique<PdfArrayObject>());
         for (const char* name : {"PDF", "Text", "ImageC"}) procSet->AddNameValue(name);
         auto* xObject = resources->AddValue("XObject", std::make_unique<PdfDictionaryObject>());
         xObject->AddValue("Im0", LinkTo(6));
         resources->AddValue("Font", std::make_unique<PdfDictionaryObject>());
         return resources;
       },
       "<< /ProcSet [ /PDF /Text /ImageC ] /XObject << /Im0 6 0 R >> /Font << >> >> ",
       // 4 + (7 + 18 + 3) + (7 + (4 + 3 + 5 + 3) + 3) + (4 + 4 + 3)
       4 + 28 + 25 + 11},
      {"deleted values left out",
       [] {
         auto dictionary = std::make_unique<PdfDictionaryObject>();
         dictionary->AddStringValue("Title", "T");
         dictionary->AddNumericValue("Gone", 1);
         dictionary->GetIndexedItem(1)->SetDeleted(true);
         dictionary->AddNumericValue("Count", -2.5f);
         auto* array = dictionary->AddValue("Kids", std::make_unique<PdfArrayObject>());
         array->AddNumericValue(1);
         array->AddNumericValue(2);
         array->AddNumericValue(3);
         array->GetIndexedItem(1)->SetDeleted(true);
         return dictionary;
       },
       "<< /Title (T)/Count -2.5 /Kids [ 1 3 ] >> ", 4 + 11 + 12 + 11},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<PdfObject> object = c.make();
    int counted = 0;
    EXPECT_EQ(Written(*object, true, &counted), c.text);
    EXPECT_EQ(counted, c.counted);
  }
}

TEST(ObjectWriter, ArrayBreaksItsLineOnceHundredBytesAreCounted) {
  PdfArrayObject array;
  for (int k = 0; k < 30; ++k) array.AddObject(LinkTo(10));
  std::string expected = "[ ";
  for (int k = 0; k < 30; ++k) {
    // After 17 items of 6 counted bytes the counter reads 102.
    if (k == 17) expected += "\r\n";
    expected += "10 0 R";
    if (k != 29) expected += " ";
  }
  expected += " ]";
  int counted = 0;
  EXPECT_EQ(Written(array, true, &counted), expected);
  EXPECT_EQ(counted, 2 + 30 * 6 + 2);

  // A nested array counts as one item with its own length.
  PdfArrayObject outer;
  for (int k = 0; k < 2; ++k) {
    auto* inner = outer.AddObject(std::make_unique<PdfArrayObject>());
    for (int j = 0; j < 10; ++j) inner->AddNumericValue(100000);
  }
  const std::string text = Written(outer);
  EXPECT_EQ(text.find("\r\n"), std::string::npos);  // 62 counted after the first; no break yet
  outer.AddNumericValue(1);
  EXPECT_NE(Written(outer).find("] \r\n1 ]"), std::string::npos);
}

TEST(ObjectWriter, IndirectObjects) {
  // Top-level dictionaries: one entry per line, LF line ends.
  PdfDictionaryObject info;
  info.MakeIndirect({2, 0});
  info.AddStringValue("Title", "Tavish Presented");
  info.AddStringValue("Subject", "");
  info.AddValue("Nested", std::make_unique<PdfDictionaryObject>());
  info.AddNameValue("Type", "Catalog");
  EXPECT_EQ(Written(info, false),
            "2 0 obj\n<< \n/Title (Tavish Presented)\n/Subject ()\n/Nested << >> \n"
            "/Type /Catalog \n>> \nendobj\n");

  // Simple kinds and arrays: CR LF line ends.
  PdfNumericObject number(3);
  number.MakeIndirect({5, 0});
  EXPECT_EQ(Written(number, false), "5 0 obj\r\n3\r\nendobj\r\n");
  PdfArrayObject array;
  array.MakeIndirect({6, 0});
  array.AddNameValue("PDF");
  EXPECT_EQ(Written(array, false), "6 0 obj\r\n[ /PDF ]\r\nendobj\r\n");
}

TEST(ObjectWriter, StreamsWriteTheirOwnLength) {
  PdfStreamObject empty;
  empty.MakeIndirect({5, 0});
  EXPECT_EQ(Written(empty, false), "5 0 obj\n<< /Length 0 >> \nstream\n\nendstream\nendobj\n");

  PdfStreamObject stream;
  stream.MakeIndirect({4, 0});
  stream.Dictionary().AddNumericValue("Length", 99);  // stale; corrected in place
  stream.Dictionary().AddNameValue("Subtype", "Image");
  stream.Stream().Write(reinterpret_cast<const uint8_t*>("abc\n"), 4);
  EXPECT_EQ(Written(stream, false),
            "4 0 obj\n<< /Length 4 /Subtype /Image >> \nstream\nabc\n\nendstream\nendobj\n");
  EXPECT_EQ(stream.Length(), 4);

  // Beyond float precision the length is still exact.
  PdfStreamObject large;
  large.Stream().SetSize(16777217);
  const std::string text = Written(large);
  EXPECT_EQ(text.substr(0, 27), "<< /Length 16777217 >> \nstr");
}

TEST(ObjectWriter, RenumberingSkipsDeletedObjectsAndRedirectsLinks) {
  std::vector<std::unique_ptr<PdfObject>> objects;
  for (int32_t number = 1; number <= 4; ++number) {
    auto dictionary = std::make_unique<PdfDictionaryObject>();
    dictionary->MakeIndirect({number, 0});
    objects.push_back(std::move(dictionary));
  }
  objects[1]->SetDeleted(true);
  auto& first = static_cast<PdfDictionaryObject&>(*objects[0]);
  first.AddValue("Last", *objects[3]);
  first.AddValue("Gone", LinkTo(2));
  first.AddValue("Unknown", LinkTo(9));

  MemoryStream out;
  ObjectWriter writer(out);
  EXPECT_EQ(writer.Renumber(objects), 3);
  EXPECT_EQ(writer.NewNumber({4, 0}), 3);
  EXPECT_EQ(writer.NewNumber({2, 0}), 0);
  EXPECT_EQ(writer.NewNumber({4, 1}), 0);
  writer.WriteObject(*objects[3], false);
  writer.WriteObject(first, false);
  // Links to numbers the table does not know keep their number.
  EXPECT_EQ(out.ToString(),
            "3 0 obj\n<< \n>> \nendobj\n"
            "1 0 obj\n<< \n/Last 3 0 R \n/Gone 2 0 R \n/Unknown 9 0 R \n>> \nendobj\n");
  // The objects keep their own numbers, so a second pass writes the same.
  EXPECT_EQ(objects[3]->ID(), (PdfObjectNumber{4, 0}));
}

TEST(ObjectWriter, NumberPdfCannotCarryFailsTheWrite) {
  PdfArrayObject array;
  array.AddNumericValue(std::numeric_limits<float>::quiet_NaN());
  EXPECT_THROW(Written(array), PdfError);
}

}  // namespace
}  // namespace brevis
