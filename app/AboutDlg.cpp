#include "app/AboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/VersionText.h"
#include "console/DialogUnits.h"
#include "console/Resources.h"

namespace {

constexpr int kClientWidth = 230;
constexpr int kClientHeight = 91;
constexpr int kIconSide = 32;  // the platform's large icon, in pixels

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent, const QString& libraryText) : QDialog(parent) {
    setWindowTitle(QStringLiteral("关于 Kestrel"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    const DialogUnits du(font());

    auto* icon = new QLabel(this);
    icon->setPixmap(ApplicationIcon().pixmap(kIconSide, kIconSide));
    icon->setGeometry(du.X(11), du.Y(17), kIconSide, kIconSide);

    textLine = new QLabel(this);
    textLine->setObjectName(QStringLiteral("1030"));
    // The template's text, one space, the version text.
    textLine->setText(QStringLiteral("Kestrel ") + QString::fromStdString(GetVersionText()));
    textLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const QRect line = du.Rect(42, 12, 129, 8);
    // Never clipped: a wider font gets a wider line.
    textLine->setGeometry(line.x(), line.y(), std::max(line.width(), textLine->sizeHint().width()),
                          std::max(line.height(), textLine->sizeHint().height()));

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setGeometry(du.Rect(176, 20, 38, 12));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    QSize size = du.Size(kClientWidth, kClientHeight);
    if (!libraryText.isEmpty()) {
        // Below the template's controls: where this Kestrel keeps its library and settings.
        auto* library = new QLabel(QStringLiteral("In use: ") + libraryText, this);
        library->setObjectName(QStringLiteral("library"));
        library->setWordWrap(true);
        library->setTextInteractionFlags(Qt::TextSelectableByMouse);
        const QRect area = du.Rect(11, 40, kClientWidth - 22, 40);
        library->setGeometry(area.x(), area.y(), area.width(), library->heightForWidth(area.width()));
        size.setHeight(std::max(size.height(), library->geometry().bottom() + du.Y(8)));
    }
    setFixedSize(size);
}

QString CAboutDlg::Text() const { return textLine->text(); }
