#pragma once

#include "core/frontend.h"

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace dunmore::test {

// A Frontend that records what a job showed and answers questions from a script.
class RecordingFrontend : public core::Frontend {
public:
    void addOutputLine(std::string_view text) override { lock(), lines.emplace_back(text); }
    void setCaption(std::string_view text) override { lock(), captions.emplace_back(text); }
    void setProgressRange(std::uint64_t upper) override {
        auto g = lock();
        ranges.push_back(upper);
        rangeAt.push_back(positions.size());
    }
    void setProgressPosition(std::uint64_t pos) override { lock(), positions.push_back(pos); }
    void showProgress(bool visible) override { lock(), progressVisible.push_back(visible); }
    void showMessage(std::string_view text) override { lock(), messages.emplace_back(text); }
    bool askYesNo(core::Question kind, std::string_view question) override {
        auto g = lock();
        questions.emplace_back(question);
        questionKinds.push_back(kind);
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> chooseFile() override {
        auto g = lock();
        ++fileChooserCalls;
        return chosenFile;
    }
    void enableTree(bool enabled) override { lock(), treeEnabled.push_back(enabled); }
    void showTree(std::shared_ptr<const core::CheckTree> tree) override {
        lock(), trees.push_back(std::move(tree));
    }
    void showPreview(std::shared_ptr<const core::PreviewSnapshot> page) override {
        lock(), previews.push_back(std::move(page));
    }
    void resetRecordsPane() override { lock(), ++recordsPaneResets; }
    void clearOutput() override { lock(), lines.clear(); }

    std::vector<std::string> lines, captions, messages, questions;
    std::vector<core::Question> questionKinds;
    std::vector<std::uint64_t> ranges, positions;
    std::vector<std::size_t> rangeAt;  // per range: how many positions came before it
    std::vector<std::shared_ptr<const core::CheckTree>> trees;
    std::vector<std::shared_ptr<const core::PreviewSnapshot>> previews;
    std::vector<bool> progressVisible, treeEnabled;
    std::deque<bool> answers;  // answers to askYesNo, in order; No when empty
    std::optional<std::string> chosenFile;
    int fileChooserCalls = 0;
    int recordsPaneResets = 0;

private:
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(m_mutex); }
    std::mutex m_mutex;
};

}  // namespace dunmore::test
