#pragma once
#include <QLabel>

// A label that sizes itself to its caption, as auto-sized labels do: one-line
// labels keep their left edge and height and grow to the right; word-wrapped
// ones keep their width and grow downwards.
//
// A one-line label whose dynamic property "followedBy" names a sibling (the
// text that reads on after it on its line) keeps that sibling clear of its
// caption: the sibling stays where it was designed while the caption fits
// before it, and moves right, kFollowerGap pixels after the caption, when a
// longer caption would run into it.
class TLabel : public QLabel {
    Q_OBJECT
public:
    // As close as the design itself sets a full caption to its follower.
    static constexpr int kFollowerGap = 1;

    explicit TLabel(QWidget *parent = nullptr);
    void SetCaption(const QString &caption);
    void AdjustToCaption();

private:
    void KeepFollowerClear();
    int m_followerHome = -1; // the follower's designed left edge
};
