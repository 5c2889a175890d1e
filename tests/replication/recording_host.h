#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "replication/run_host.h"

namespace tamaril::testing {

/// A host that records what a run shows and answers its questions from queues (an empty
/// queue answers No / Abort, the backup question No to all, and records the question all the
/// same).
class RecordingHost : public replication::tRunHost {
 public:
  void SetActivity(const std::string& text) override {
    activities.push_back(text);
    if (on_activity) on_activity();
  }
  void SetTableName(const std::string& name) override { table_names.push_back(name); }
  void SetRunProgress(int percent) override { run_progress.push_back(percent); }
  void SetTableProgress(int percent) override { table_progress.push_back(percent); }
  void ShowProgress(bool, bool) override {}
  void SetRecordCount(long long count) override { record_count = count; }
  void ProcessEvents() override {
    ++events;
    if (on_events) on_events();
  }
  bool Confirm(const std::string& question) override {
    questions.push_back(question);
    if (confirm_answers.empty()) return false;
    const bool answer = confirm_answers.front();
    confirm_answers.pop_front();
    return answer;
  }
  bool ContinueAfterError(const std::string& question) override {
    questions.push_back(question);
    return continue_answer;
  }
  replication::tRunAnswer AskBackup(const std::string& question) override {
    backup_questions.push_back(question);
    return Next(backup_answers, replication::tRunAnswer::NoToAll);
  }
  replication::tRunAnswer AskRestore(const std::string& question) override {
    restore_questions.push_back(question);
    return Next(restore_answers, replication::tRunAnswer::Abort);
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }

  std::vector<std::string> activities;
  std::vector<std::string> table_names;
  std::vector<int> run_progress;
  std::vector<int> table_progress;
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  std::deque<bool> confirm_answers;
  std::vector<std::string> backup_questions;
  std::vector<std::string> restore_questions;
  std::deque<replication::tRunAnswer> backup_answers;
  std::deque<replication::tRunAnswer> restore_answers;
  bool continue_answer = false;
  long long record_count = 0;
  int events = 0;
  std::function<void()> on_events;    ///< runs at every ProcessEvents (a click arriving)
  std::function<void()> on_activity;  ///< runs at every SetActivity

 private:
  static replication::tRunAnswer Next(std::deque<replication::tRunAnswer>& answers,
                                      replication::tRunAnswer otherwise) {
    if (answers.empty()) return otherwise;
    const replication::tRunAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace tamaril::testing
