#pragma once
// The plots the windows show and the reports print, drawn by one code on any
// QPainter (a widget, an image, a PDF page). For print every series also has
// its own marker shape and line style, so a page read in black and white
// still tells the series apart.

#include <QRectF>

#include "session/SessionStats.h"
#include "study/Study.h"

class QPainter;

namespace hx {

// SBP, MBP and DBP (left axis, mmHg) and HR (right axis, per minute) over a
// sitting's cycles; accepted cycles filled and joined, rejected ones hollow.
void drawSessionPlot(QPainter& p, const QRectF& bounds, const SessionStats& stats, bool print);

// One value (kSbp ... kHr) of every group over the study's days: the mean of
// the animals' daily means with an SEM bar, one colour and marker per group.
void drawGroupPlot(QPainter& p, const QRectF& bounds, const StudyFigures& study, int value, bool print);

}  // namespace hx
