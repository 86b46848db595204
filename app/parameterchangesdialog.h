#pragma once

#include "deviceparameters.h"

#include <QDialog>
#include <QStringList>

#include <functional>

class QTableWidget;

// Shows what loading a parameter backup would change, one row per value in
// the file: the device's current value beside the file's, changed rows in
// bold, each named as the window names it. Accepting it means "write the file's values"; when nothing would
// change there is nothing to accept.
class ParameterChangesDialog : public QDialog
{
    Q_OBJECT
public:
    ParameterChangesDialog(const QString &path, const DeviceParameters::Backup &backup,
                           const DeviceParameters::ParameterValues &current, QWidget *parent = nullptr);

    // The end of a restore: what was written and confirmed, and the offer to
    // keep the values over a power cycle (saveToRom runs if taken).
    static void showOutcome(QWidget *parent, int count, const QStringList &problems,
                            const std::function<void()> &saveToRom);

private:
    QTableWidget *table = nullptr;
    int changed = 0;
};
