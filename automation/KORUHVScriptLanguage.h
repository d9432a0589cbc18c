/* The action-script language: splitting a script into actions, tokens, the
 * channel-list grammar and the checker. Pure functions over the system's node
 * tree (read only); the script dialog and the executor call them.
 *
 * A script is cut into actions at every ';'. Empty pieces and pieces of white
 * space only are no actions (so a final line break after the last ';' is
 * harmless). An action is "wait <ms>" or "set <param> <channels> <value>",
 * keywords exactly in lower case. */
#ifndef KORUHVSCRIPTLANGUAGE_H
#define KORUHVSCRIPTLANGUAGE_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class KORUHVNode;

namespace koruscript {

/* Results of checking one action. Negative values are the channel-list
 * parser's codes. */
enum CheckResult {
    CheckValid = 0,
    CheckSyntax = 1,           // empty action, no system, keyword, wait time
    CheckTokenCount = 2,       // neither 2 nor 4 tokens
    CheckUnknownParameter = 3, // no selected channel has the parameter
    CheckBadValue = 4          // the value does not suit a matching parameter
};

/* Results of the channel-list parser. */
enum ParseResult {
    ParseAll = 0,       // "*": every channel of every occupied slot
    ParseSelection = 1, // a selection was read completely
    ParseEmpty = -2,
    ParseBadBoard = -3,
    ParseBadChannel = -4,
    ParseNoBrace = -5,
    ParseNoClosingBrace = -6
};

using Selection = QVector<QVector<int>>;

/* The actions of a script text, in order, each as written (not simplified). */
QVector<QString> splitActions(const QString &script);
/* The simplified action cut into its tokens. */
QStringList tokens(const QString &action);

/* Reads a channel list against the system's slots (children of the system
 * node; null gives a crate without slots). *code receives a ParseResult. */
Selection parseChannelList(const QString &list, KORUHVNode *system, int *code);

/* Channel parameters named `name` (any letter case) on the channels the
 * selection (with its parser code) reaches in the tree as it is now. */
QVector<KORUHVNode *> matchingParameters(KORUHVNode *system, const Selection &selection, int code,
                                         const QString &name);

/* Empty when the value token may be written to the parameter, else a short
 * reason: numbers within "Minval".."Maxval", 0 or 1 for on/off, an index of
 * "Enum", a decimal word for binary parameters, any Latin-1 text for "Name". */
QString valueProblem(KORUHVNode *parameter, const QString &value);

/* Empty when the text can stand as the value word of a "set" action, else
 * why not: a script cuts actions at ';' and words at white space (blanks,
 * tabs, line ends and every other character the toolkit counts as white
 * space), so a value holding one would become other words or actions. */
QString valueTokenProblem(const QString &value);

/* Checks one action. paramName receives the parameter token of every
 * four-token "set" action, actionText the simplified text of a valid one
 * (either may be null). */
int checkAction(const QString &action, KORUHVNode *system, QString *paramName = nullptr,
                QString *actionText = nullptr);

/* Whether the action is written in the language at all, whatever crate it
 * is for: a "wait" with a whole number, or a "set" of four words whose
 * channel list reads. Slots, channels, parameters and values are not looked
 * at (a file written for another crate is a script too). */
bool isWellFormedAction(const QString &action);

/* Why checkAction refuses the action, for the operator (empty when it is
 * valid): the keyword, the word count, the channel list, the parameter no
 * selected channel has, or the value and what is wrong with it. Without a
 * system: that the system is no longer connected. */
QString checkReason(const QString &action, KORUHVNode *system);

/* The text the script dialog and the run log show for a refused script:
 * "Syntax error in action [n]" followed by ": " and the reason, or that the
 * system is gone when there is none (n is checkActions' result, above 0). */
QString checkFailureText(const QVector<QString> &actions, KORUHVNode *system, int n);

/* 0 when every action is valid, -1 when there is none, else the 1-based
 * position of the first faulty action. progress(step) is called after each
 * action with the progress step of the list. */
int checkActions(const QVector<QString> &actions, KORUHVNode *system, QString *paramName = nullptr,
                 QString *actionText = nullptr, const std::function<void(int)> &progress = {});

/* The progress step for a list of n actions (at least 1, at most 99). */
int progressStep(int n);

} // namespace koruscript

#endif
