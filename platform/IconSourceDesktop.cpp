#include "platform/IconSourceDesktop.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>

#include "platform/IcoFormat.h"
#include "platform/PeResources.h"
#include "store/StoreFiles.h"

namespace kestrova {

namespace {

// Images that Qt decodes (PNG, XPM, ...) are bounded before decoding: an "icon" that is a
// huge photograph is refused rather than allocated.
constexpr int kMaxImageSide = 4096;
constexpr int kImageAllocationLimitMb = 64;
constexpr qsizetype kSvgSniffLength = 4096;

std::optional<IconPair> PairOf(const QImage& image) {
  IconPair pair{ico::FitSquare(image, IconSource::kLargeSize),
                ico::FitSquare(image, IconSource::kSmallSize)};
  if (pair.large.isNull() || pair.small.isNull()) return std::nullopt;
  return pair;
}

bool LooksLikeSvg(QByteArrayView bytes) {
  const QByteArrayView head = bytes.first(std::min(bytes.size(), kSvgSniffLength));
  const QByteArrayView trimmed = head.trimmed();
  const bool markup = trimmed.startsWith("<?xml") || trimmed.startsWith("<svg") ||
                      trimmed.startsWith("<!") || trimmed.startsWith("\xEF\xBB\xBF<");
  return markup && head.contains("<svg");
}

QImage RenderSvg(QSvgRenderer& renderer, int side) {
  QImage out(side, side, QImage::Format_ARGB32);
  out.fill(Qt::transparent);
  QSizeF size = renderer.viewBoxF().size();
  if (size.isEmpty()) size = renderer.defaultSize();
  if (size.isEmpty()) return {};
  size.scale(side, side, Qt::KeepAspectRatio);
  QPainter painter(&out);
  renderer.render(&painter, QRectF((side - size.width()) / 2, (side - size.height()) / 2,
                                   size.width(), size.height()));
  painter.end();
  return out;
}

std::optional<IconPair> IconsFromSvg(QByteArrayView bytes) {
  // Only plain SVG: compressed SVG would let a small file inflate without bound.
  QSvgRenderer renderer(QByteArray(bytes.data(), bytes.size()));
  if (!renderer.isValid()) return std::nullopt;
  IconPair pair{RenderSvg(renderer, IconSource::kLargeSize),
                RenderSvg(renderer, IconSource::kSmallSize)};
  if (pair.large.isNull() || pair.small.isNull()) return std::nullopt;
  return pair;
}

std::optional<IconPair> IconsFromQtImage(QByteArrayView bytes) {
  QByteArray data = QByteArray::fromRawData(bytes.data(), bytes.size());
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  // Qt's SVG plugin would also take compressed SVG, which we refuse (see IconsFromSvg).
  if (reader.format().startsWith("svg")) return std::nullopt;
  reader.setAllocationLimit(kImageAllocationLimitMb);
  const QSize size = reader.size();
  if (!size.isValid() || size.width() > kMaxImageSide || size.height() > kMaxImageSide)
    return std::nullopt;
  const QImage image = reader.read();
  if (image.isNull()) return std::nullopt;
  return PairOf(image);
}

bool IsGuiApplication() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

bool IsThemeName(const QString& name) {
  if (name.isEmpty() || name.size() > 255 || name.startsWith(u'.')) return false;
  for (QChar c : name) {
    const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                    (c >= u'0' && c <= u'9') || c == u'-' || c == u'_' || c == u'.' || c == u'+';
    if (!ok) return false;
  }
  return true;
}

// A theme icon, when the desktop's theme has one under that name. Theme lookups need the
// GUI application (which the program always has); without it there are none.
std::optional<IconPair> ThemeIcons(const QString& name) {
  if (!IsGuiApplication() || !IsThemeName(name) || !QIcon::hasThemeIcon(name)) return std::nullopt;
  const QIcon icon = QIcon::fromTheme(name);
  IconPair pair{
      ico::FitSquare(
          icon.pixmap(QSize(IconSource::kLargeSize, IconSource::kLargeSize), 1.0).toImage(),
          IconSource::kLargeSize),
      ico::FitSquare(
          icon.pixmap(QSize(IconSource::kSmallSize, IconSource::kSmallSize), 1.0).toImage(),
          IconSource::kSmallSize)};
  if (pair.large.isNull() || pair.small.isNull()) return std::nullopt;
  return pair;
}

std::optional<IconPair> BundledIcons(const QString& name) {
  const QString base = QStringLiteral(":/kestrova/icons/") + name;
  IconPair pair{QImage(base + QStringLiteral("-32.png")), QImage(base + QStringLiteral("-16.png"))};
  if (pair.large.isNull() || pair.small.isNull()) return std::nullopt;
  pair.large = ico::FitSquare(pair.large, IconSource::kLargeSize);
  pair.small = ico::FitSquare(pair.small, IconSource::kSmallSize);
  return pair;
}

// The whole file, when the text names a regular file of a sane size. Reading (rather than
// mapping) keeps a file truncated meanwhile from ending the program.
std::optional<QByteArray> ReadIconFile(const std::string& file) {
  const QString path = QString::fromUtf8(file.data(), static_cast<qsizetype>(file.size()));
  const QFileInfo info(path);
  if (!info.isFile()) return std::nullopt;
  // Opening and closing a store's file here would drop the store's locks: no icon.
  if (IsOpenStoreFile(file)) return std::nullopt;
  QFile in(path);
  if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return std::nullopt;
  if (in.size() > DesktopIconSource::kMaxFileSize) return std::nullopt;
  QByteArray bytes = in.read(DesktopIconSource::kMaxFileSize + 1);
  if (bytes.size() > DesktopIconSource::kMaxFileSize) return std::nullopt;
  return bytes;
}

bool NamesSomething(const std::string& file) {
  return QFileInfo::exists(QString::fromUtf8(file.data(), static_cast<qsizetype>(file.size())));
}

}  // namespace

std::optional<IconPair> IconsFromBytes(QByteArrayView bytes, int32_t index) {
  if (bytes.startsWith("MZ")) {
    // A program that is not PE (DOS, 16-bit) holds no icons we read.
    if (!pe::LooksLikePe(bytes)) return std::nullopt;
    return ico::IconsFromImages(pe::IconGroupImages(bytes, index));
  }
  // Every other kind holds one icon, at index 0.
  if (index != 0) return std::nullopt;
  if (ico::LooksLikeIco(bytes)) return ico::IconsFromImages(ico::SplitIcoFile(bytes));
  if (LooksLikeSvg(bytes)) return IconsFromSvg(bytes);
  return IconsFromQtImage(bytes);
}

int CountIconsInBytes(QByteArrayView bytes) {
  if (bytes.startsWith("MZ")) return pe::CountIconGroups(bytes);
  return IconsFromBytes(bytes, 0) ? 1 : 0;
}

std::optional<IconPair> DesktopIconSource::Extract(const std::string& file, int32_t index) {
  if (file.empty()) return std::nullopt;
  if (const auto bytes = ReadIconFile(file)) return IconsFromBytes(*bytes, index);
  if (index != 0 || NamesSomething(file)) return std::nullopt;
  return ThemeIcons(QString::fromUtf8(file.data(), static_cast<qsizetype>(file.size())));
}

int DesktopIconSource::Count(const std::string& file) {
  if (file.empty()) return 0;
  if (const auto bytes = ReadIconFile(file)) return CountIconsInBytes(*bytes);
  if (NamesSomething(file)) return 0;
  return ThemeIcons(QString::fromUtf8(file.data(), static_cast<qsizetype>(file.size()))) ? 1 : 0;
}

std::optional<IconPair> DesktopIconSource::Stock(int32_t index) {
  QString theme;
  QString bundled;
  switch (index) {
    case kStockDocument:
      theme = QStringLiteral("text-x-generic");
      bundled = QStringLiteral("document");
      break;
    case kStockApplication:
      theme = QStringLiteral("application-x-executable");
      bundled = QStringLiteral("application");
      break;
    default:
      return std::nullopt;
  }
  if (auto icons = ThemeIcons(theme)) return icons;
  return BundledIcons(bundled);
}

std::shared_ptr<IconSource> CreateDesktopIconSource() {
  return std::make_shared<DesktopIconSource>();
}

}  // namespace kestrova
