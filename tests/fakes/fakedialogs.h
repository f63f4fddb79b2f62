#pragma once

#include <QList>
#include <deque>

#include "common/dialogs.h"

namespace pictolio::testing {

// Records every dialog the code under test shows and answers from a queue (OK, or Yes for a
// Yes/No box, when the queue is empty).
class FakeDialogs : public Dialogs {
public:
    QList<MessageRequest> messages;
    std::deque<MessageAnswer> answers;

    // The texts of the recorded messages, in order.
    QStringList messageTexts() const;

protected:
    MessageAnswer showMessage(const MessageRequest& request) override;
};

}  // namespace pictolio::testing
