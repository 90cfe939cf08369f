#pragma once
#include <QLabel>

// A label that sizes itself to its caption, as auto-sized labels do: one-line
// labels keep their left edge and height and grow to the right; word-wrapped
// ones keep their width and grow downwards.
//
// A one-line label whose dynamic property "followedBy" names a sibling (the
// text that reads on after it on its line) keeps that sibling clear of its
// caption: the sibling keeps the left edge the window description gives it
// (164 for "messages)") while the caption fits before it, and moves right,
// kFollowerGap pixels after the caption, when a longer caption would run
// into it.
class TLabel : public QLabel {
    Q_OBJECT
public:
    // One pixel: the gap between a three-digit count and "messages)" at their
    // places in the window description.
    static constexpr int kFollowerGap = 1;

    explicit TLabel(QWidget *parent = nullptr);
    void SetCaption(const QString &caption);
    void AdjustToCaption();

private:
    void KeepFollowerClear();
    int m_followerHome = -1; // the follower's left edge in the window description
};
