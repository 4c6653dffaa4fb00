#include "app/About.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "kestrova/Version.h"

namespace kestrova {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutDlg");
  setWindowTitle("About");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  auto* layout = new QVBoxLayout(this);
  auto* product = new QLabel("Kestrova", this);
  product->setObjectName("ProductName");
  QFont big = product->font();
  big.setPointSize(big.pointSize() + 4);
  big.setBold(true);
  product->setFont(big);
  auto* version = new QLabel("Version " KESTROVA_VERSION, this);
  version->setObjectName("Version");
  auto* maker =
      new QLabel("Quorbel Software\nsupport@quorbel.example\nhttps://quorbel.example/", this);
  maker->setObjectName("Maker");
  maker->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OKButton");
  // OK answers Enter as the default button; Escape closes the dialog as well.
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(product, 0, Qt::AlignHCenter);
  layout->addWidget(version, 0, Qt::AlignHCenter);
  layout->addWidget(maker, 0, Qt::AlignHCenter);
  layout->addWidget(ok, 0, Qt::AlignHCenter);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace kestrova
