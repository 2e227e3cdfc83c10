#pragma once

#include "selection/CsvImport.h"
#include "selection/SubscriberQuery.h"

#include <QElapsedTimer>

class QLabel;
class QWidget;
class SubscriberGridModel;

// Query results go into the grid; the splash window shows how many rows have come so far. Drawing the
// count for every row would cost more than the rows themselves, so the window is repainted at most as
// often as a screen refreshes; what it shows is the same.
class GridSink : public CsvSink {
public:
    // splash: the window whose label "Label1" shows the count, or null.
    GridSink(SubscriberGridModel& grid, QWidget* splash);
    ~GridSink() override;
    GridSink(const GridSink&) = delete;
    GridSink& operator=(const GridSink&) = delete;
    void addSubscriber(SubscriberValues&& v) override; // AddUserToGridFAST
    void message(const QString& text) override;        // an OK message box
    void rowCounted(std::int16_t count) override;
    qint32 gridRows() const override;

private:
    static constexpr qint64 kRepaintMs = 16;
    SubscriberGridModel& m_grid;
    QWidget* m_splash;
    QLabel* m_label;
    QElapsedTimer m_sinceRepaint;
    std::int16_t m_lastCount = 0;
};
