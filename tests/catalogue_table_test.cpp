// The catalogue built into the Windows program (po/zh_CN.po turned into a
// table by cmake/po_to_cpp.cmake) says what GNU gettext says from the same
// .po: every entry, multi-line strings, escapes and plurals alike.
#include <libintl.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "texts/catalogue.h"

namespace {

constexpr const char* kDomain = "tarvik-update";

class CatalogueTableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    bindtextdomain(kDomain, TARVIK_LOCALE_DIR);
    bind_textdomain_codeset(kDomain, "UTF-8");
    std::setlocale(LC_MESSAGES, "C.UTF-8");
    setenv("LANGUAGE", "zh_CN", 1);
  }
};

TEST_F(CatalogueTableTest, HoldsEveryEntryOfThePo) {
  std::ifstream po(TARVIK_ZH_PO);
  size_t entries = 0;
  for (std::string line; std::getline(po, line);) entries += line.rfind("msgid ", 0) == 0 ? 1 : 0;
  ASSERT_GT(entries, 1u);
  EXPECT_EQ(tarvik::kCatalogueEntryCount, entries - 1);  // all but the header
  EXPECT_TRUE(tarvik::catalogue::Open());
}

TEST_F(CatalogueTableTest, TranslatesAsGettextDoes) {
  ASSERT_STRNE(dgettext(kDomain, ""), "") << "no compiled catalogue in " TARVIK_LOCALE_DIR;
  size_t multiLine = 0;
  for (size_t i = 0; i < tarvik::kCatalogueEntryCount; ++i) {
    const tarvik::CatalogueEntry& entry = tarvik::kCatalogueEntries[i];
    multiLine += std::strchr(entry.msgid, '\n') != nullptr ? 1 : 0;
    if (entry.msgidPlural == nullptr) {
      EXPECT_STREQ(tarvik::catalogue::Lookup(entry.msgid), dgettext(kDomain, entry.msgid)) << entry.msgid;
      continue;
    }
    for (const unsigned long n : {1ul, 2ul, 7ul}) {
      EXPECT_STREQ(tarvik::catalogue::LookupPlural(entry.msgid, entry.msgidPlural, n),
                   dngettext(kDomain, entry.msgid, entry.msgidPlural, n))
          << entry.msgid;
    }
  }
  EXPECT_GT(multiLine, 0u);
}

TEST_F(CatalogueTableTest, UnknownTextsComeBackAsTheyAre) {
  const char* text = "no such text in any catalogue";
  EXPECT_EQ(tarvik::catalogue::Lookup(text), text);
  EXPECT_STREQ(tarvik::catalogue::LookupPlural("one thing", "%d things", 1), "one thing");
  EXPECT_STREQ(tarvik::catalogue::LookupPlural("one thing", "%d things", 3), "%d things");
}

}  // namespace
