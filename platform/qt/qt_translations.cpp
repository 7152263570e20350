#include "platform/qt/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tarvik {

namespace {

constexpr uint16_t kLangChinese = 2052;

QTranslator*& Installed() {
  static QTranslator* translator = nullptr;
  return translator;
}

}  // namespace

bool InstallQtTranslations(uint16_t languageId) {
  RemoveQtTranslations();
  if (languageId != kLangChinese || !QCoreApplication::instance()) return false;
  auto* translator = new QTranslator(QCoreApplication::instance());
  // qtbase holds the widgets' texts; "qt" would pull in every module's.
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  Installed() = translator;
  return true;
}

void RemoveQtTranslations() {
  if (QTranslator* translator = Installed()) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
    Installed() = nullptr;
  }
}

}  // namespace tarvik
