#pragma once

#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

// How a task run by runTask() ended.
template <typename T> struct TaskOutcome {
    bool finished = false;    // false: the time-out struck first
    std::optional<T> value;   // set when the task returned
    std::exception_ptr error; // set when the task threw
    int loopTurns = 0;        // heartbeats the event loop delivered while the task ran

    // The exception the task threw, when it is an E.
    template <typename E> std::optional<E> errorAs() const {
        try {
            if (error)
                std::rethrow_exception(error);
        } catch (const E &e) {
            return e;
        } catch (...) {
        }
        return std::nullopt;
    }
};

template <typename T> using TaskValue = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

// Runs a task to its end in a local event loop, or until the time-out. A heartbeat timer
// counts the loop's turns, so a test can tell that the loop kept running while it waited.
template <typename T>
TaskOutcome<TaskValue<T>> runTask(QCoro::Task<T> task,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    struct State {
        TaskOutcome<TaskValue<T>> outcome;
        QEventLoop loop;
    };
    // Shared: after a time-out the task may still finish later.
    auto state = std::make_shared<State>();
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&state] { ++state->outcome.loopTurns; });
    heartbeat.start(std::chrono::milliseconds(1));
    QTimer::singleShot(timeout, &state->loop, &QEventLoop::quit);
    auto watcher = [](QCoro::Task<T> awaited, std::shared_ptr<State> s) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await awaited;
                s->outcome.value = std::monostate{};
            } else {
                s->outcome.value = co_await awaited;
            }
        } catch (...) {
            s->outcome.error = std::current_exception();
        }
        s->outcome.finished = true;
        s->loop.quit();
    }(std::move(task), state);
    if (!state->outcome.finished)
        state->loop.exec();
    return state->outcome;
}
