// Starting a worker: one detached thread that runs its body and sends one event.
#include <pthread.h>

#include <memory>

#include "engine/engine.h"

namespace tarnwick {

namespace {

// The walk is iterative, so the default stack is plenty; it is set explicitly
// so that a process-wide ulimit cannot shrink it.
constexpr std::size_t kWorkerStackBytes = 8u << 20;

struct WorkerStart {
  std::function<WorkerEvent()> body;
  EventSender sender;
};

void* run_worker(void* argument) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(argument));
  try {
    std::move(start->sender).send(start->body());
  } catch (...) {
    // Nothing is sent: dropping the sender tells the UI that the operation
    // stopped unexpectedly, which is the truth.
  }
  return nullptr;
}

}  // namespace

bool spawn_worker(std::function<WorkerEvent()> body, EventSender sender) {
  auto start = std::make_unique<WorkerStart>(WorkerStart{std::move(body), std::move(sender)});
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, kWorkerStackBytes);
  pthread_t thread;
  const int created = pthread_create(&thread, &attributes, run_worker, start.get());
  pthread_attr_destroy(&attributes);
  if (created != 0) return false;  // start, and with it the sender, is dropped here
  start.release();                 // now owned by the thread
  return true;
}

}  // namespace tarnwick
