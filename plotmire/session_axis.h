#ifndef QUOTELOOM_PLOTMIRE_SESSION_AXIS_H
#define QUOTELOOM_PLOTMIRE_SESSION_AXIS_H

#include <QString>

#include <vector>

// The time axis of one trading day: the night session (from 18:00) first, then the day session,
// measured in traded minutes. Quiet stretches of up to kMaxQuietMinutes stay on the axis; longer
// breaks (between sessions, at noon, overnight) are cut out. Used on one thread.
class SessionAxis {
 public:
  static constexpr int kMaxQuietMinutes = 5;

  // Seconds since 18:00 of the trading day's eve, wrapping at midnight: 18:00:00 is 0, 09:00:00 is 54000.
  static int SessionKey(int time_of_day);

  // Builds the axis from the session keys (seconds) of all ticks, in ascending order.
  void Build(const std::vector<int>& sorted_keys);

  // Axis position, in minutes from the left end, of a session key and its milliseconds.
  double Position(int key, int millis) const;

  int minutes() const { return static_cast<int>(minutes_.size()); }

  // "HH:MM" of the axis minute at a position.
  QString ClockText(double position) const;

  struct Label {
    double position;
    QString text;
  };
  // Round times and session starts, at least (minutes / max_labels) apart, left to right.
  std::vector<Label> Labels(int max_labels) const;

  // Positions where a cut-out break lies (the start of each session after the first).
  std::vector<double> Breaks() const;

 private:
  std::vector<int> minutes_;  // session minute of each axis minute, ascending
};

#endif
