#include "app/AppTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <string>
#include <vector>

#include "platform/Translation.h"

#ifndef QOR_DATADIR
#define QOR_DATADIR "/usr/share"
#endif

QStringList WindowTranslationDirs(const QString& programFolder) {
  QStringList dirs;
  if (!programFolder.isEmpty()) dirs << programFolder + QStringLiteral("/../share/qor-oneclick/translations");
  dirs << QStringLiteral(QOR_DATADIR "/qor-oneclick/translations");
  return dirs;
}

QString InstallTranslations(QCoreApplication& app, const QString& programFolder) {
  const std::string language = LoadUserTranslations(DefaultLocaleDirs(programFolder.toStdString()));
  if (language.empty()) return QString();
  const QString name = QString::fromStdString(language);

  // the translators belong to the application and live as long as it does
  auto* own = new QTranslator(&app);
  for (const QString& dir : WindowTranslationDirs(programFolder)) {
    if (own->load(QStringLiteral("qor-oneclick_") + name, dir)) {
      QCoreApplication::installTranslator(own);
      break;
    }
  }
  auto* qt = new QTranslator(&app);
  if (qt->load(QStringLiteral("qtbase_") + name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(qt);
  return name;
}
