#pragma once

#include "inventory/ProgramSizes.h"
#include "prefix/WinePrefix.h"

#include <QObject>
#include <QPointer>

#include <memory>

class ProgramListModel;
class QWidget;

// Fills in the sizes and last uses that the list's entries lack, from their own folders: in the
// background once the list has painted after a scan, filled in as they arrive, or at once for a
// report that runs without a window.
class ListSizeFiller : public QObject
{
    Q_OBJECT

public:
    explicit ListSizeFiller(QObject* parent = nullptr);
    ~ListSizeFiller() override;

    // After a scan of `model`: starts measuring when one of `views` next paints. Whatever was being
    // measured for an earlier scan stops.
    void afterScan(const WinePrefix& prefix, ProgramListModel* model, const QList<QWidget*>& views);

    // Measures what the rows of `model` lack in this thread, using and updating the cache.
    static void fillNow(const WinePrefix& prefix, ProgramListModel& model);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static QList<ProgramSizes::Request> requestsFor(const ProgramListModel& model);
    void start();
    void stopWatching();
    void apply(int row, qint64 bytes, const QDateTime& lastUse);

    std::unique_ptr<ProgramSizes> m_sizes;
    WinePrefix m_prefix{QString()};
    QPointer<ProgramListModel> m_model;
    QList<QPointer<QWidget>> m_views;
    quint64 m_generation = 0; // the model's scan the measuring is for
};
