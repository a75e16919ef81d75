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
        if (!error)
            return std::nullopt;
        try {
            std::rethrow_exception(error);
        } catch (const E &e) {
            return e;
        } catch (...) {
            return std::nullopt;
        }
    }
};

template <typename T> using TaskValue = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

namespace TaskRunnerDetail {

template <typename T> struct State {
    TaskOutcome<TaskValue<T>> outcome;
    QEventLoop loop;
};

// Holds the state by shared pointer: after a time-out the task may still finish later.
template <typename T> QCoro::Task<> watch(QCoro::Task<T> task, std::shared_ptr<State<T>> state) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            state->outcome.value = std::monostate{};
        } else {
            state->outcome.value = co_await task;
        }
    } catch (...) {
        state->outcome.error = std::current_exception();
    }
    state->outcome.finished = true;
    state->loop.quit();
}

} // namespace TaskRunnerDetail

// Runs a task to its end in a local event loop, or until the time-out. A heartbeat timer
// counts the loop's turns, so a test can tell that the loop kept running while it waited.
template <typename T>
TaskOutcome<TaskValue<T>> runTask(QCoro::Task<T> task,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    auto state = std::make_shared<TaskRunnerDetail::State<T>>();
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&state] { ++state->outcome.loopTurns; });
    heartbeat.start(std::chrono::milliseconds(1));
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &state->loop, &QEventLoop::quit);
    deadline.start(timeout);
    auto watcher = TaskRunnerDetail::watch(std::move(task), state);
    if (!state->outcome.finished)
        state->loop.exec();
    return state->outcome;
}
