// The hosts file's reads and its block edit: the hide and show decisions over one scan of the
// file, streamed into the crash-safe replacement (platform/files/SafeReplace.cpp) under the lock
// (HostsLock_*.cpp).
#include "platform/hosts/HostsFileIO.h"

#include <algorithm>
#include <climits>

#include "core/hosts/HostsText.h"
#include "platform/hosts/HostsLock.h"
#include "platform/hosts/HostsScan.h"

using filesys::File;
using filesys::Sink;

namespace {

// The hosts file opened for reading under the exclusive lock. Temporary files are only ever made
// under that lock, so whoever holds it may remove them; a backup of an interrupted in-place
// rewrite is dealt with here too. Reads take no lock and change nothing.
LockedHosts LockForWriting(const std::string& path) {
    LockedHosts locked = LockHostsFile(path);
    if (locked.status != ReadStatus::Ok) return locked;
    if (!filesys::RecoverInterruptedRewrite(path)) {
        locked.file.Reset();
        locked.status = ReadStatus::Unreadable;  // a torn file is not to be trusted
        return locked;
    }
    filesys::RemoveStaleTemps(path);
    return locked;
}

HostsOutcome OutcomeOf(ReadStatus status) {
    switch (status) {
        case ReadStatus::Missing:
            return HostsOutcome::Missing;
        case ReadStatus::Busy:
            return HostsOutcome::Busy;
        case ReadStatus::Ok:
        case ReadStatus::Unreadable:
            break;
    }
    return HostsOutcome::Unreadable;
}

HostsResult ResultOf(HostsOutcome outcome) {
    HostsResult result;
    result.outcome = outcome;
    result.sentence = SentenceOf(outcome);
    return result;
}

// Hands text on with every LF as lineEnd; converts a slice at a time so no second copy of a
// large text is made.
bool EmitText(const Sink& sink, std::string_view text, std::string_view lineEnd) {
    if (lineEnd == "\n") return sink(text);
    constexpr std::size_t kSlice = 1 << 20;
    std::string converted;
    for (std::size_t pos = 0; pos < text.size(); pos += kSlice) {
        converted.clear();
        AppendWithLineEnds(converted, text.substr(pos, kSlice), lineEnd);
        if (!sink(converted)) return false;
    }
    return true;
}

HostsOutcome Replace(const std::string& path, LockedHosts& locked, std::string_view text,
                     std::string_view lineEnd) {
    filesys::Original original{&locked.file, locked.attributes};
    return filesys::ReplaceContent(path, original,
                                   [&](const Sink& sink) { return EmitText(sink, text, lineEnd); })
               ? HostsOutcome::Written
               : HostsOutcome::WriteFailed;
}

// A read without any lock (filesys::ReadSteadily): scan runs over one state of the file's
// CR-free text.
ReadStatus ReadUnlocked(const std::string& path,
                        const std::function<void(CrFreeReader& reader)>& scan) {
    return filesys::ReadSteadily(
        filesys::Resolve(path), [&scan](const File* file, std::string_view bytes) {
            CrFreeReader reader = file != nullptr ? CrFreeReader(*file) : CrFreeReader(bytes);
            scan(reader);
            return !reader.Failed();
        });
}

// Hands on the CR-free text from the text position `from`, with [cutBegin, cutEnd) left out and
// insert put in its place, LF as lineEnd. No CR may stand before `from`, so that it is also the
// position in the file.
bool EmitFileText(const File& file, std::uint64_t from, std::uint64_t cutBegin,
                  std::uint64_t cutEnd, std::string_view insert, std::string_view lineEnd,
                  const Sink& sink) {
    if (!filesys::SeekTo(file, from)) return false;
    CrFreeReader reader(file, from);
    bool inserted = insert.empty();
    while (reader.Next()) {
        const std::string_view chunk = reader.Chunk();
        const std::uint64_t first = reader.ChunkOffset();
        const std::uint64_t last = first + chunk.size();
        const std::uint64_t keepTo = std::clamp(cutBegin, first, last);
        const std::uint64_t keepFrom = std::clamp(cutEnd, first, last);
        if (!EmitText(sink, chunk.substr(0, keepTo - first), lineEnd)) return false;
        if (!inserted && cutBegin <= last) {
            if (!EmitText(sink, insert, lineEnd)) return false;
            inserted = true;
        }
        if (keepFrom < last && !EmitText(sink, chunk.substr(keepFrom - first), lineEnd))
            return false;
    }
    return !reader.Failed() && inserted;
}

struct Edit {
    std::uint64_t cutBegin = UINT64_MAX;
    std::uint64_t cutEnd = UINT64_MAX;
    std::string insert;  // put where the cut text was
    std::string tail;    // appended after the kept text
};

// What a scan decides: Unchanged, Written (the edit is to be written), or why it is refused.
using Plan = std::function<HostsOutcome(const MarkerScan&, Edit*)>;

// Writes the edit: a block at the very end of a file whose text before it holds no CR goes by
// cutting the file short; otherwise the kept text streams into the new file followed by the tail.
HostsOutcome WriteEdit(const std::string& path, LockedHosts& locked, const MarkerScan& scan,
                       const Edit& edit, std::string_view lineEnd) {
    if (lineEnd == "\n" && edit.tail.empty() && edit.insert.empty() && scan.size &&
        edit.cutEnd == *scan.size && edit.cutBegin <= scan.crFree) {
        switch (filesys::CutTheEndOff(path, locked.file, edit.cutBegin)) {
            case filesys::EndCut::Done:
                return HostsOutcome::Written;
            case filesys::EndCut::Failed:
                return HostsOutcome::WriteFailed;
            case filesys::EndCut::NotHere:
                break;
        }
    }
    // Where LF stays LF, the start of the file up to the cut (or to its first CR) is the new
    // file's start byte for byte: the kernel copies it without reading it through here.
    filesys::RawPrefix prefix{&locked.file, 0};
    if (lineEnd == "\n") prefix.length = std::min(edit.cutBegin, scan.crFree);
    filesys::Original original{&locked.file, locked.attributes};
    const bool written = filesys::ReplaceContent(
        path, original,
        [&](const Sink& sink) {
            return EmitFileText(locked.file, prefix.length, edit.cutBegin, edit.cutEnd, edit.insert,
                                lineEnd, sink) &&
                   EmitText(sink, edit.tail, lineEnd);
        },
        prefix.length > 0 ? &prefix : nullptr);
    return written ? HostsOutcome::Written : HostsOutcome::WriteFailed;
}

// The locked two-pass edit: a scan decides, then the edit is written. Never holds the whole text.
HostsOutcome StreamEdit(const std::string& path, std::string_view lineEnd, ScanDepth depth,
                        const Plan& plan, MarkerScan& scan, Edit& edit) {
    const std::string resolved = filesys::Resolve(path);
    LockedHosts locked = LockForWriting(resolved);
    if (locked.status != ReadStatus::Ok) return OutcomeOf(locked.status);
    CrFreeReader reader(locked.file);
    scan = ScanMarkers(reader, depth);
    if (!scan.ok) return HostsOutcome::Unreadable;
    const HostsOutcome planned = plan(scan, &edit);
    if (planned != HostsOutcome::Written) return planned;
    return WriteEdit(resolved, locked, scan, edit, lineEnd);
}

// Adding: nothing when any form of the begin marker is there; refused when there are no lines to
// be had or a line would make a block that cannot be removed whole.
HostsOutcome PlanAdd(const MarkerScan& scan, const SettingsSource& settings, Edit* edit) {
    if (scan.probe) return HostsOutcome::Unchanged;
    const std::optional<std::vector<std::string>> lines = settings();
    if (!lines || !AppendBlock(edit->tail, *lines)) return HostsOutcome::BadSettings;
    return HostsOutcome::Written;
}

// Hiding: nothing when the label is anywhere. Else the block of the settings lines, in place of a
// block of Vantrel's (which then hides nothing) or appended when there is none.
HostsOutcome PlanHide(const MarkerScan& scan, const SettingsSource& settings, Edit* edit) {
    if (scan.firstLabel) return HostsOutcome::Unchanged;
    if (!scan.begin && scan.probe) return HostsOutcome::ForeignMarker;
    if (scan.begin && !scan.end) return HostsOutcome::Damaged;
    const std::optional<std::vector<std::string>> lines = settings();
    if (!lines) return HostsOutcome::BadSettings;
    if (!HasEntryLines(*lines)) return HostsOutcome::EmptyList;
    std::string block;
    if (!AppendBlock(block, *lines)) return HostsOutcome::BadSettings;
    if (!scan.begin) {
        edit->tail = std::move(block);
        return HostsOutcome::Written;
    }
    if (scan.block == block) return HostsOutcome::Unchanged;  // already this list's block
    edit->cutBegin = *scan.begin;
    edit->cutEnd = *scan.end + kEndMarker.size();
    edit->insert = std::move(block);
    return HostsOutcome::Written;
}

// Cutting the first block: from its begin marker through the first end marker after it
// (searching from the start would find a stray earlier end marker and repeat text).
HostsOutcome PlanCut(const MarkerScan& scan, Edit* edit) {
    if (!scan.begin) return HostsOutcome::Unchanged;
    if (!scan.end) return HostsOutcome::Damaged;
    edit->cutBegin = *scan.begin;
    edit->cutEnd = *scan.end + kEndMarker.size();
    return HostsOutcome::Written;
}

// Whether the label is in the file after a pass that wrote.
bool HiddenAfter(HostsIntent intent, const MarkerScan& scan, const Edit& edit) {
    if (intent == HostsIntent::Hide) {
        // The label was nowhere before, and the block's markers cannot join into it. As the file
        // is read, without the CRs a line may hold.
        return ContainsAdLabel(edit.insert.empty() ? edit.tail : edit.insert);
    }
    // What is left: the text before the block, the text after it, and where the two now meet.
    const std::string joint = scan.beforeBegin + scan.afterEnd;
    return (scan.firstLabel && *scan.firstLabel + kAdLabel.size() <= edit.cutBegin) ||
           (scan.lastLabel && *scan.lastLabel >= edit.cutEnd) ||
           FindAdLabel(joint.data(), joint.size()) != nullptr;
}

}  // namespace

HostsRead ReadHostsText(const std::string& path) {
    HostsRead result;
    result.status = ReadUnlocked(path, [&result](CrFreeReader& reader) {
        result.text.clear();
        while (reader.Next()) result.text.append(reader.Chunk());
    });
    if (result.status != ReadStatus::Ok) result.text.clear();
    return result;
}

bool HostsHasAdLabel(const std::string& path) {
    bool found = false;
    const ReadStatus status = ReadUnlocked(path, [&found](CrFreeReader& reader) {
        found = false;
        while (!found && reader.Next())
            found = FindAdLabel(reader.Window(), reader.WindowSize()) != nullptr;
    });
    return status == ReadStatus::Ok && found;
}

HostsResult WriteHostsText(const std::string& path, std::string_view text,
                           std::string_view lineEnd) {
    const std::string resolved = filesys::Resolve(path);
    LockedHosts locked = LockForWriting(resolved);
    if (locked.status != ReadStatus::Ok) return ResultOf(OutcomeOf(locked.status));
    return ResultOf(Replace(resolved, locked, text, lineEnd));
}

HostsResult EditHostsFile(const std::string& path,
                          const std::function<bool(std::string& text)>& edit,
                          std::string_view lineEnd) {
    const std::string resolved = filesys::Resolve(path);
    LockedHosts locked = LockForWriting(resolved);
    if (locked.status != ReadStatus::Ok) return ResultOf(OutcomeOf(locked.status));
    std::optional<std::string> text = filesys::ReadRest(locked.file);
    if (!text) return ResultOf(HostsOutcome::Unreadable);
    DropCarriageReturns(*text);
    if (!edit(*text)) return ResultOf(HostsOutcome::Unchanged);
    return ResultOf(Replace(resolved, locked, *text, lineEnd));
}

HostsResult AddBlockAt(const std::string& path, const SettingsSource& settings,
                       std::string_view lineEnd) {
    MarkerScan scan;
    Edit edit;
    return ResultOf(StreamEdit(
        path, lineEnd, ScanDepth::Block,
        [&](const MarkerScan& found, Edit* planned) { return PlanAdd(found, settings, planned); },
        scan, edit));
}

HostsResult AddBlockAt(const std::string& path, const std::vector<std::string>& lines,
                       std::string_view lineEnd) {
    return AddBlockAt(
        path, [&] { return std::optional<std::vector<std::string>>(lines); }, lineEnd);
}

HostsResult RemoveBlockAt(const std::string& path, std::string_view lineEnd) {
    MarkerScan scan;
    Edit edit;
    // Behind a block at the end looking on costs nothing, and a cut there needs to know it is
    // the end.
    HostsResult result =
        ResultOf(StreamEdit(path, lineEnd, ScanDepth::PastEnd, PlanCut, scan, edit));
    result.blockLeft = result.outcome == HostsOutcome::Written ? scan.later.has_value()
                       : result.Done()                         ? scan.begin.has_value()
                                       : result.outcome != HostsOutcome::Missing;
    return result;
}

HostsResult ApplyIntentAt(const std::string& path, HostsIntent intent,
                          const SettingsSource& settings, std::string_view lineEnd) {
    MarkerScan scan;
    Edit edit;
    const Plan plan = [&](const MarkerScan& found, Edit* planned) {
        return intent == HostsIntent::Hide ? PlanHide(found, settings, planned)
                                           : PlanCut(found, planned);
    };
    HostsResult result =
        ResultOf(StreamEdit(path, lineEnd, ScanDepth::WholeFile, plan, scan, edit));
    switch (result.outcome) {
        case HostsOutcome::Missing:
            result.blockLeft = false;
            return result;
        case HostsOutcome::Unreadable:
        case HostsOutcome::Busy:
            return result;
        case HostsOutcome::Written:
            break;
        default:
            result.hidden = scan.firstLabel.has_value();
            result.blockLeft = scan.begin.has_value();
            return result;
    }
    result.hidden = HiddenAfter(intent, scan, edit);
    result.changed = result.hidden != scan.firstLabel.has_value();
    result.blockLeft = intent == HostsIntent::Hide || scan.later.has_value();
    return result;
}
