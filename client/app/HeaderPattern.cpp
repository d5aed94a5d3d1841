#include "client/app/HeaderPattern.h"

#include <cwctype>

namespace {

wchar_t Lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c))); }
wchar_t Upper(wchar_t c) { return static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c))); }

bool IsQuantifier(wchar_t c) { return c == L'*' || c == L'+' || c == L'?'; }

struct Node {
    enum Kind { kEmpty, kChar, kAny, kSet, kBegin, kEnd, kConcat, kAlternation, kRepeat, kGroup };
    Kind kind = kEmpty;
    wchar_t c = 0;       // kChar; kRepeat: its quantifier
    int index = -1;      // kSet: the set; kGroup: the group's number
    bool greedy = true;  // kRepeat
    std::vector<int> children;
};

// The threads waiting at one text position, in priority order, each with its capture slots.
struct ThreadList {
    std::vector<int> pcs;
    std::vector<size_t> slots;
    void Clear() {
        pcs.clear();
        slots.clear();
    }
    void Add(int pc, const std::vector<size_t>& captures) {
        pcs.push_back(pc);
        slots.insert(slots.end(), captures.begin(), captures.end());
    }
};

}  // namespace

// Parses into a tree first: a quantifier applies to code already emitted otherwise. The
// recursion here follows the pattern's nesting, which is ours, never the text.
class HeaderPattern::Parser {
public:
    Parser(const std::wstring& pattern, HeaderPattern& out) : m_pattern(pattern), m_out(out) {}

    bool Run() {
        int root = Alternation();
        if (root < 0 || m_pos != m_pattern.size()) return false;
        Emit(Op::kSave, 0);
        EmitNode(root);
        Emit(Op::kSave, 1);
        Emit(Op::kMatch);
        return true;
    }

private:
    int Add(Node::Kind kind) {
        m_nodes.emplace_back();
        m_nodes.back().kind = kind;
        return static_cast<int>(m_nodes.size()) - 1;
    }
    int AddWithChildren(Node::Kind kind, std::vector<int> children) {
        int node = Add(kind);
        m_nodes[node].children = std::move(children);
        return node;
    }
    bool At(wchar_t c) const { return m_pos < m_pattern.size() && m_pattern[m_pos] == c; }

    int Alternation() {
        std::vector<int> sides{Sequence()};
        while (sides.back() >= 0 && At(L'|')) {
            ++m_pos;
            sides.push_back(Sequence());
        }
        if (sides.back() < 0) return -1;
        return sides.size() == 1 ? sides[0] : AddWithChildren(Node::kAlternation, std::move(sides));
    }

    int Sequence() {
        std::vector<int> items;
        while (m_pos < m_pattern.size() && !At(L'|') && !At(L')') && !At(L'}')) {
            // Also a second quantifier: "a**" repeats nothing.
            if (IsQuantifier(m_pattern[m_pos])) return -1;
            bool anchor = At(L'^') || At(L'$');
            int atom = Atom();
            if (atom < 0) return -1;
            if (m_pos < m_pattern.size() && IsQuantifier(m_pattern[m_pos])) {
                if (anchor) return -1;
                int repeat = AddWithChildren(Node::kRepeat, {atom});
                m_nodes[repeat].c = m_pattern[m_pos++];
                if (At(L'?')) {
                    m_nodes[repeat].greedy = false;
                    ++m_pos;
                }
                atom = repeat;
            }
            items.push_back(atom);
        }
        if (items.empty()) return Add(Node::kEmpty);
        return items.size() == 1 ? items[0] : AddWithChildren(Node::kConcat, std::move(items));
    }

    int Atom() {
        wchar_t c = m_pattern[m_pos++];
        switch (c) {
        case L'(': {
            int inner = Alternation();
            if (inner < 0 || !At(L')')) return -1;
            ++m_pos;
            return inner;
        }
        case L'{': {
            int number = m_out.m_groups++;
            int inner = Alternation();
            if (inner < 0 || !At(L'}')) return -1;
            ++m_pos;
            int group = AddWithChildren(Node::kGroup, {inner});
            m_nodes[group].index = number;
            return group;
        }
        case L']': return -1;
        case L'[': return SetAtom();
        case L'.': return Add(Node::kAny);
        case L'^': return Add(Node::kBegin);
        case L'$': return Add(Node::kEnd);
        case L'\\': {
            bool digit = false;
            if (!Escape(c, digit)) return -1;
            if (digit) return AddSet(Set{false, {{L'0', L'9'}}});
            break;
        }
        default: break;
        }
        int node = Add(Node::kChar);
        m_nodes[node].c = c;
        return node;
    }

    // After a backslash: `\d` sets `digit`, anything else gives its character.
    bool Escape(wchar_t& c, bool& digit) {
        if (m_pos >= m_pattern.size()) return false;
        c = m_pattern[m_pos++];
        digit = c == L'd';
        if (c == L't') c = L'\t';
        if (c == L'r') c = L'\r';
        if (c == L'n') c = L'\n';
        return true;
    }

    bool SetCharacter(wchar_t& c, bool& digit) {
        c = m_pattern[m_pos++];
        digit = false;
        return c != L'\\' || Escape(c, digit);
    }

    int SetAtom() {
        Set set;
        if (At(L'^')) {
            set.negated = true;
            ++m_pos;
        }
        for (;;) {
            if (m_pos >= m_pattern.size()) return -1;
            if (At(L']')) break;
            wchar_t low = 0;
            bool digit = false;
            if (!SetCharacter(low, digit)) return -1;
            if (digit) {
                set.ranges.push_back({L'0', L'9'});
                continue;
            }
            // A dash first or last is itself.
            if (At(L'-') && m_pos + 1 < m_pattern.size() && m_pattern[m_pos + 1] != L']') {
                ++m_pos;
                wchar_t high = 0;
                if (!SetCharacter(high, digit) || digit || high < low) return -1;
                set.ranges.push_back({low, high});
            } else {
                set.ranges.push_back({low, low});
            }
        }
        ++m_pos;
        return AddSet(std::move(set));
    }

    int AddSet(Set set) {
        m_out.m_sets.push_back(std::move(set));
        int node = Add(Node::kSet);
        m_nodes[node].index = static_cast<int>(m_out.m_sets.size()) - 1;
        return node;
    }

    int Emit(Op op, int x = 0, wchar_t c = 0) {
        m_out.m_program.push_back(Instruction{op, x, 0, c});
        return static_cast<int>(m_out.m_program.size()) - 1;
    }
    int Here() const { return static_cast<int>(m_out.m_program.size()); }
    // `first` is the branch tried first.
    void SetSplit(int split, int first, int second) {
        m_out.m_program[split].x = first;
        m_out.m_program[split].y = second;
    }

    void EmitNode(int index) {
        const Node& node = m_nodes[index];
        switch (node.kind) {
        case Node::kEmpty: break;
        case Node::kChar: Emit(Op::kChar, 0, node.c); break;
        case Node::kAny: Emit(Op::kAny); break;
        case Node::kSet: Emit(Op::kSet, node.index); break;
        case Node::kBegin: Emit(Op::kBegin); break;
        case Node::kEnd: Emit(Op::kEnd); break;
        case Node::kConcat:
            for (int child : node.children) EmitNode(child);
            break;
        case Node::kAlternation: {
            std::vector<int> jumps;
            for (size_t i = 0; i + 1 < node.children.size(); ++i) {
                int split = Emit(Op::kSplit);
                EmitNode(node.children[i]);
                jumps.push_back(Emit(Op::kJump));
                SetSplit(split, split + 1, Here());
            }
            EmitNode(node.children.back());
            for (int jump : jumps) m_out.m_program[jump].x = Here();
            break;
        }
        case Node::kGroup:
            Emit(Op::kSave, 2 + 2 * node.index);
            EmitNode(node.children[0]);
            Emit(Op::kSave, 3 + 2 * node.index);
            break;
        case Node::kRepeat: EmitRepeat(node); break;
        }
    }

    void EmitRepeat(const Node& node) {
        if (node.c == L'+') {
            int body = Here();
            EmitNode(node.children[0]);
            int split = Emit(Op::kSplit);
            if (node.greedy) {
                SetSplit(split, body, split + 1);
            } else {
                SetSplit(split, split + 1, body);
            }
            return;
        }
        int split = Emit(Op::kSplit);
        EmitNode(node.children[0]);
        if (node.c == L'*') Emit(Op::kJump, split);
        if (node.greedy) {
            SetSplit(split, split + 1, Here());
        } else {
            SetSplit(split, Here(), split + 1);
        }
    }

    const std::wstring& m_pattern;
    HeaderPattern& m_out;
    size_t m_pos = 0;
    std::vector<Node> m_nodes;
};

bool HeaderPattern::Compile(const std::wstring& pattern, bool caseSensitive) {
    m_program.clear();
    m_sets.clear();
    m_groups = 0;
    m_caseSensitive = caseSensitive;
    if (Parser(pattern, *this).Run()) return true;
    m_program.clear();
    m_sets.clear();
    m_groups = 0;
    return false;
}

bool HeaderPattern::InSet(const Set& set, wchar_t c) const {
    auto has = [&set](wchar_t ch) {
        for (const auto& range : set.ranges) {
            if (ch >= range.first && ch <= range.second) return true;
        }
        return false;
    };
    bool in = has(c) || (!m_caseSensitive && (has(Lower(c)) || has(Upper(c))));
    return in != set.negated;
}

bool HeaderPattern::Matches(const Instruction& in, wchar_t c) const {
    switch (in.op) {
    case Op::kChar: return c == in.c || (!m_caseSensitive && (Lower(c) == Lower(in.c) || Upper(c) == Upper(in.c)));
    case Op::kAny: return true;
    case Op::kSet: return InSet(m_sets[static_cast<size_t>(in.x)], c);
    default: return false;
    }
}

bool HeaderPattern::Search(const std::wstring& text, size_t from, Match& match) const {
    match = Match();
    if (m_program.empty() || from > text.size()) return false;
    const size_t n = text.size();
    const size_t slotCount = 2 + 2 * static_cast<size_t>(m_groups);
    // A list is built for one position only, so that position (plus one) marks what it holds.
    std::vector<size_t> seenAt(m_program.size(), 0);
    // Work of the closure: a pc to follow, or (slot >= 0) a slot to restore once a branch is done.
    struct Work {
        int pc;
        int slot;
        size_t value;
    };
    std::vector<Work> work;
    std::vector<size_t> captures(slotCount, kNone);
    ThreadList current, next;
    std::vector<size_t> best;

    // Follows the jumps, splits and saves from pc at pos, in priority order, adding every thread
    // that waits for a character (or has matched). With an explicit list: the depth is the pattern's.
    auto add = [&](ThreadList& list, int start, size_t pos) {
        work.clear();
        work.push_back({start, -1, 0});
        while (!work.empty()) {
            Work w = work.back();
            work.pop_back();
            if (w.slot >= 0) {
                captures[static_cast<size_t>(w.slot)] = w.value;
                continue;
            }
            if (seenAt[static_cast<size_t>(w.pc)] == pos + 1) continue;
            seenAt[static_cast<size_t>(w.pc)] = pos + 1;
            const Instruction& in = m_program[static_cast<size_t>(w.pc)];
            switch (in.op) {
            case Op::kJump: work.push_back({in.x, -1, 0}); break;
            case Op::kSplit:
                work.push_back({in.y, -1, 0});
                work.push_back({in.x, -1, 0});
                break;
            case Op::kSave:
                work.push_back({0, in.x, captures[static_cast<size_t>(in.x)]});
                captures[static_cast<size_t>(in.x)] = pos;
                work.push_back({w.pc + 1, -1, 0});
                break;
            case Op::kBegin:
                if (pos == 0) work.push_back({w.pc + 1, -1, 0});
                break;
            case Op::kEnd:
                if (pos == n) work.push_back({w.pc + 1, -1, 0});
                break;
            default: list.Add(w.pc, captures); break;
            }
        }
    };

    for (size_t pos = from; pos <= n; ++pos) {
        // A thread starting here ranks below all that started earlier: the leftmost match wins.
        if (best.empty()) {
            captures.assign(slotCount, kNone);
            add(current, 0, pos);
        }
        if (current.pcs.empty()) {
            if (!best.empty()) break;
            continue;
        }
        next.Clear();
        for (size_t t = 0; t < current.pcs.size(); ++t) {
            const size_t* slots = current.slots.data() + t * slotCount;
            const Instruction& in = m_program[static_cast<size_t>(current.pcs[t])];
            if (in.op == Op::kMatch) {
                // The threads after this one rank lower: none of them may replace it.
                best.assign(slots, slots + slotCount);
                break;
            }
            if (pos < n && Matches(in, text[pos])) {
                captures.assign(slots, slots + slotCount);
                add(next, current.pcs[t] + 1, pos + 1);
            }
        }
        std::swap(current, next);
    }
    if (best.empty()) return false;
    match.begin = best[0];
    match.end = best[1];
    for (int g = 0; g < m_groups; ++g) {
        size_t begin = best[2 + 2 * static_cast<size_t>(g)];
        size_t end = best[3 + 2 * static_cast<size_t>(g)];
        bool took = begin != kNone && end != kNone;
        match.groups.push_back(took ? std::make_pair(begin, end) : std::make_pair(kNone, kNone));
    }
    return true;
}
