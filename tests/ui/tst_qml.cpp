#include <QtQuickTest>

#include "tools/pagestage/pagestage.h"

class Setup : public QObject {
    Q_OBJECT

public slots:
    void applicationAvailable() { preparePageStage(); }
};

QUICK_TEST_MAIN_WITH_SETUP(tst_qml, Setup)

#include "tst_qml.moc"
