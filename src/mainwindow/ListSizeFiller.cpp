#include "mainwindow/ListSizeFiller.h"

#include "inventory/ProgramListModel.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>

ListSizeFiller::ListSizeFiller(QObject* parent) : QObject(parent) {}

ListSizeFiller::~ListSizeFiller() = default;

QList<ProgramSizes::Request> ListSizeFiller::requestsFor(const ProgramListModel& model)
{
    QList<ProgramSizes::Request> requests;
    requests.reserve(model.count());
    for (int row = 0; row < model.count(); ++row) {
        const InstalledProgram& program = model.at(row);
        ProgramSizes::Request request;
        request.token = row;
        request.facts = {program.InstallLocation, program.UninstallCommand, program.DisplayIcon, program.View};
        // Every entry takes part, so that a folder two entries use counts as shared.
        request.wanted = model.isNtFamily() && (program.SizeFrom == SizeSource::None || program.LastUsed.isEmpty());
        requests << request;
    }
    return requests;
}

void ListSizeFiller::afterScan(const WinePrefix& prefix, ProgramListModel* model, const QList<QWidget*>& views)
{
    if (m_sizes && prefix.path() != m_prefix.path())
        m_sizes.reset();
    if (m_sizes)
        m_sizes->measure({}); // nothing more for the rows of the earlier scan
    m_prefix = prefix;
    m_model = model;
    m_generation = model ? model->generation() : 0;
    stopWatching();
    if (!model || !model->isNtFamily())
        return;
    // The first paint of the list must not wait for anything of this.
    for (QWidget* view : views) {
        view->installEventFilter(this);
        m_views << view;
    }
}

void ListSizeFiller::stopWatching()
{
    for (const QPointer<QWidget>& view : std::as_const(m_views)) {
        if (view)
            view->removeEventFilter(this);
    }
    m_views.clear();
}

bool ListSizeFiller::eventFilter(QObject* watched, QEvent* event)
{
    const bool watchedView = std::any_of(m_views.cbegin(), m_views.cend(),
                                         [watched](const QPointer<QWidget>& view) { return view == watched; });
    if (event->type() == QEvent::Paint && watchedView) {
        stopWatching();
        // Twice round the event loop: once this paint is done and once its flush to the screen is.
        QTimer::singleShot(0, this, [this] { QTimer::singleShot(0, this, &ListSizeFiller::start); });
    }
    return QObject::eventFilter(watched, event);
}

void ListSizeFiller::start()
{
    if (!m_model || m_model->generation() != m_generation)
        return;
    if (!m_sizes) {
        m_sizes = std::make_unique<ProgramSizes>(m_prefix);
        connect(m_sizes.get(), &ProgramSizes::measured, this, &ListSizeFiller::apply);
    }
    m_sizes->measure(requestsFor(*m_model));
}

void ListSizeFiller::apply(int row, qint64 bytes, const QDateTime& lastUse)
{
    // A result for the rows of an earlier scan must not land on this one's.
    if (m_model && m_model->generation() == m_generation)
        m_model->setMeasured(row, bytes, lastUse);
}

void ListSizeFiller::fillNow(const WinePrefix& prefix, ProgramListModel& model)
{
    if (!model.isNtFamily())
        return;
    for (const ProgramSizes::Result& result : ProgramSizes::measureNow(prefix, requestsFor(model)))
        model.setMeasured(result.token, result.bytes, result.lastUse);
}
