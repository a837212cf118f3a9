// The launcher's window: GLFW and Dear ImGui turn the session's state into a list, buttons and
// messages, and the player's keys and clicks into the session's actions.
#include "browser_window.h"

#include <GLFW/glfw3.h>
#include <imgui.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <vector>

#include "browser_session.h"
#include "launcher_options.h"
#include "list_announcement.h"
#include "monotonic_clock.h"
#include "stop_request.h"

namespace brassmoor {

namespace {

constexpr const char* Title = "Brassmoor: choose a game";
constexpr int WindowWidth = 860;
constexpr int WindowHeight = 520;
constexpr float FontPixels = 17.0f;
// Fonts tried in turn for the list (ImGui's own small font when none is there).
constexpr std::array<const char*, 3> FontFiles{"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                               "C:\\Windows\\Fonts\\segoeui.ttf",
                                               "C:\\Windows\\Fonts\\arial.ttf"};
// With nothing to draw, a frame is drawn this often; between frames the window wakes every slice to
// take answers (timed to the slice), and draws at once on any input. A game hosted here is served on
// a thread of its own.
constexpr double IdleFrameSeconds = 0.25;
constexpr double SliceSeconds = 0.004;
// How long the window, back after a game, keeps asking for the keyboard: the game's window may still
// hold it for a moment, and the first request can come before the window is viewable.
constexpr double RefocusSeconds = 1.0;
// While the game runs the hidden window waits on it this long a step.
constexpr int GameStepMilliseconds = 20;
constexpr std::uint32_t MostBotsFromWindow = 200;
const ImVec4 Greyed{0.55f, 0.55f, 0.55f, 1.0f};
const ImVec4 ErrorText{1.0f, 0.45f, 0.4f, 1.0f};

struct WindowState {
    std::array<char, 256> address{};
    std::array<char, 64> nameFilter{};
    std::array<char, MaxListServerUrlBytes + 1> listUrl{};  // typed into the list servers' box
    int bots = 3;
    std::array<char, 128> name{};  // the hosted game's; empty: the computer's host name
    bool internet = false;         // "List it on the Internet", off until the player ticks it
    std::array<char, MaxListServerUrlBytes + 1> listServer{};
    bool listServerOffered = false;  // the field was filled with the command line's first
    bool scrollToSelected = false;
    // The list's keys since the last frame: a press and its release can both come between
    // two frames, which ImGui's own key state would miss.
    std::vector<int> keysPressed;
    std::vector<int> pressedHere;  // Enter and Escape pressed in this window and not yet released
    double refocusUntil = 0.0;     // after a game, the window asks for the keyboard until it has it
    bool inputSeen = false;        // input came since the last frame: draw now
};

WindowState* stateOf(GLFWwindow* window) {
    return static_cast<WindowState*>(glfwGetWindowUserPointer(window));
}

// Input ImGui takes through its own callbacks (which call these first) or polls: a reason to draw.
void noteCursor(GLFWwindow* window, double, double) {
    stateOf(window)->inputSeen = true;
}
void noteButton(GLFWwindow* window, int, int, int) {
    stateOf(window)->inputSeen = true;
}
void noteScroll(GLFWwindow* window, double, double) {
    stateOf(window)->inputSeen = true;
}
void noteChar(GLFWwindow* window, unsigned int) {
    stateOf(window)->inputSeen = true;
}
void noteFocus(GLFWwindow* window, int) {
    stateOf(window)->inputSeen = true;
}
void noteResize(GLFWwindow* window, int, int) {
    stateOf(window)->inputSeen = true;
}
void noteRefresh(GLFWwindow* window) {
    stateOf(window)->inputSeen = true;
}

// Chained after ImGui's own key handling (it calls the callback installed before it). The arrows act
// as they are pressed and repeat; Enter and Escape act when a press seen here is released without
// having repeated, so that an Escape still held from the game does not close the window it comes
// back to (the system's repeats reach the window as a fresh press, then as repeats).
void noteKey(GLFWwindow* window, int key, int, int action, int) {
    WindowState* state = stateOf(window);
    state->inputSeen = true;
    if (key == GLFW_KEY_UP || key == GLFW_KEY_DOWN) {
        if (action != GLFW_RELEASE) state->keysPressed.push_back(key);
        return;
    }
    auto pressed = std::find(state->pressedHere.begin(), state->pressedHere.end(), key);
    if (action == GLFW_PRESS) {
        if (pressed == state->pressedHere.end()) state->pressedHere.push_back(key);
    } else if (pressed != state->pressedHere.end()) {
        state->pressedHere.erase(pressed);
        if (action == GLFW_RELEASE) state->keysPressed.push_back(key);
    }
}

std::string glfwProblem() {
    const char* description = nullptr;
    glfwGetError(&description);
    return description != nullptr ? description : "no reason given";
}

void loadFont() {
    ImGuiIO& io = ImGui::GetIO();
    static const ImWchar ranges[] = {0x0020, 0x024F, 0x0370, 0x03FF, 0x0400, 0x04FF, 0x2000, 0x206F, 0};
    for (const char* file : FontFiles) {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(file, ignored) &&
            io.Fonts->AddFontFromFileTTF(file, FontPixels, nullptr, ranges) != nullptr) {
            return;
        }
    }
    io.Fonts->AddFontDefault();
}

void drawTable(BrowserSession& session, const BrowserView& view, WindowState& state, float height) {
    const BrowserModel& model = view.list;
    const ImGuiTableFlags flags = ImGuiTableFlags_Sortable | ImGuiTableFlags_RowBg |
                                  ImGuiTableFlags_BordersOuter | ImGuiTableFlags_BordersInnerV |
                                  ImGuiTableFlags_ScrollY | ImGuiTableFlags_SizingFixedFit;
    if (!ImGui::BeginTable("games", 5, flags, ImVec2(0.0f, height))) return;
    ImGui::TableSetupScrollFreeze(0, 1);
    ImGui::TableSetupColumn("Name", ImGuiTableColumnFlags_WidthStretch, 0.0f, int(BrowserColumn::Name));
    ImGui::TableSetupColumn("Found", ImGuiTableColumnFlags_WidthFixed, 110.0f, int(BrowserColumn::Found));
    ImGui::TableSetupColumn("Players",
                            ImGuiTableColumnFlags_DefaultSort | ImGuiTableColumnFlags_PreferSortDescending |
                                ImGuiTableColumnFlags_WidthFixed,
                            90.0f, int(BrowserColumn::Players));
    ImGui::TableSetupColumn("Ping", ImGuiTableColumnFlags_WidthFixed, 95.0f, int(BrowserColumn::Ping));
    ImGui::TableSetupColumn("Version",
                            ImGuiTableColumnFlags_PreferSortDescending | ImGuiTableColumnFlags_WidthFixed,
                            70.0f, int(BrowserColumn::Version));
    ImGui::TableHeadersRow();
    // Sorted on a header click (and on the first frame) only; rows coming and going sort themselves.
    if (ImGuiTableSortSpecs* specs = ImGui::TableGetSortSpecs(); specs != nullptr && specs->SpecsDirty) {
        if (specs->SpecsCount > 0) {
            sortGames(session, BrowserColumn(specs->Specs[0].ColumnUserID),
                      specs->Specs[0].SortDirection == ImGuiSortDirection_Descending);
        }
        specs->SpecsDirty = false;
    }
    std::optional<std::uint64_t> join;
    std::vector<std::uint64_t> onScreen;  // the listed games here are asked first
    bool anyShown = false;
    for (const BrowserRow& row : model.rows) {
        if (!rowShown(model, row)) continue;
        anyShown = true;
        const std::uint64_t key = rowKey(row);
        ImGui::TableNextRow();
        ImGui::TableNextColumn();
        const bool joinable = isJoinable(model, row);
        if (!joinable) ImGui::PushStyleColor(ImGuiCol_Text, Greyed);
        const bool selected = model.selected == key;
        // The name is drawn as text beside an unnamed row, never inside the label: ImGui reads "##" in a
        // label as the start of its id, so a server named with one would be shown cut.
        const std::string id = "##" + std::to_string(key);
        if (ImGui::Selectable(id.c_str(), selected,
                              ImGuiSelectableFlags_SpanAllColumns | ImGuiSelectableFlags_AllowDoubleClick)) {
            selectGame(session, key);
            if (ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left)) join = key;
        }
        if (row.found == FoundOn::Internet && ImGui::IsItemVisible()) onScreen.push_back(key);
        const bool hovered = ImGui::IsItemHovered();
        ImGui::SameLine(0.0f, 0.0f);
        ImGui::TextUnformatted((rowName(row) + (row.hostedHere ? "  (hosted here)" : "")).c_str());
        if (!row.answered && hovered) {
            ImGui::SetTooltip(isUnreachable(row) ? "Listed on the Internet; it does not answer from here"
                                                 : "Listed on the Internet; asking it for its players");
        } else if (!joinable && hovered) {
            ImGui::SetTooltip("Version %s: this launcher joins only %u.%u games", rowVersion(row).c_str(),
                              unsigned(model.own.major), unsigned(model.own.minor));
        }
        if (selected && state.scrollToSelected) {
            ImGui::SetScrollHereY();
            state.scrollToSelected = false;
        }
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(rowFound(row).c_str());
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(rowPlayers(row).c_str());
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(rowPing(row).c_str());
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(rowVersion(row).c_str());
        if (!joinable) ImGui::PopStyleColor();
    }
    if (!anyShown) {
        ImGui::TableNextRow();
        ImGui::TableNextColumn();
        ImGui::TextDisabled(model.rows.empty()
                                ? "Looking for games on this computer, the local networks and the lists..."
                                : "No game matches the filter.");
    }
    ImGui::EndTable();
    noteShownRows(session, std::move(onScreen));
    if (join) joinSelected(session);
}

// The filter above the list: a name and three toggles, remembered across starts.
void drawFilter(BrowserSession& session, const BrowserView& view, WindowState& state) {
    BrowserFilter filter = view.list.filter;
    ImGui::SetNextItemWidth(200.0f);
    bool changed = ImGui::InputTextWithHint("##filter", "Filter by name", state.nameFilter.data(),
                                            state.nameFilter.size());
    filter.name = state.nameFilter.data();
    ImGui::SameLine();
    changed = ImGui::Checkbox("Hide empty", &filter.hideEmpty) || changed;
    ImGui::SameLine();
    changed = ImGui::Checkbox("Hide full", &filter.hideFull) || changed;
    ImGui::SameLine();
    changed = ImGui::Checkbox("Hide other versions", &filter.hideOtherVersions) || changed;
    if (changed) filterGames(session, filter);
    ImGui::SameLine();
    if (ImGui::Button("Refresh")) refreshGames(session);
    ImGui::SameLine();
    if (ImGui::Button("Lists...")) ImGui::OpenPopup("List servers");
}

// The list servers read: where each comes from and how it reads; the player's own can be removed,
// and one added.
void drawListServers(BrowserSession& session, const BrowserView& view, WindowState& state) {
    const ImGuiIO& io = ImGui::GetIO();
    ImGui::SetNextWindowSize(ImVec2(io.DisplaySize.x * 0.85f, 0.0f));
    ImGui::SetNextWindowPos(ImVec2(io.DisplaySize.x * 0.5f, io.DisplaySize.y * 0.4f), ImGuiCond_Always,
                            ImVec2(0.5f, 0.5f));
    if (!ImGui::BeginPopupModal("List servers", nullptr, ImGuiWindowFlags_NoSavedSettings)) return;
    ImGui::TextWrapped("The Internet's games are read from these list servers, every %.0f s and on Refresh.",
                       ListRefreshSeconds);
    std::optional<std::string> removed;
    if (view.lists.empty()) ImGui::TextDisabled("None yet: add one below.");
    for (std::size_t i = 0; i < view.lists.size(); ++i) {
        const ListSource& source = view.lists[i];
        ImGui::PushID(static_cast<int>(i));
        ImGui::BeginDisabled(source.server.origin != ListOrigin::User);
        if (ImGui::SmallButton("Remove")) removed = source.server.url;
        ImGui::EndDisabled();
        ImGui::PopID();
        ImGui::SameLine();
        ImGui::TextUnformatted(source.server.url.c_str());
        ImGui::SameLine();
        const std::string reading = !source.heard ? "reading..."
                                    : !source.problem.empty()
                                        ? "cannot be read"
                                        : std::to_string(source.games.size()) + " games";
        ImGui::TextDisabled("(%s; %s)", describeListOrigin(source.server.origin), reading.c_str());
    }
    if (removed) removeListServer(session, *removed);
    ImGui::Separator();
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - 140.0f);
    const bool typedEnter =
        ImGui::InputTextWithHint("##listurl", "https://games.example.org", state.listUrl.data(),
                                 state.listUrl.size(), ImGuiInputTextFlags_EnterReturnsTrue);
    ImGui::SameLine();
    if (ImGui::Button("Add") || typedEnter) {
        addListServer(session, state.listUrl.data());
        state.listUrl[0] = '\0';
    }
    if (ImGui::Button("Close")) ImGui::CloseCurrentPopup();
    ImGui::EndPopup();
}

// The hosted game's name, whether it is listed on the Internet and where, and once it is, what the
// router and the list said.
void drawHosting(const BrowserView& view, WindowState& state) {
    if (!state.listServerOffered) {
        const std::size_t length = std::min(view.offeredListServer.size(), state.listServer.size() - 1);
        std::copy_n(view.offeredListServer.begin(), length, state.listServer.begin());
        state.listServerOffered = true;
    }
    ImGui::BeginDisabled(view.busy || view.hosting);
    ImGui::SetNextItemWidth(180.0f);
    ImGui::InputTextWithHint("##name", "Name (else the host name)", state.name.data(), state.name.size());
    ImGui::SameLine();
    ImGui::Checkbox("List it on the Internet", &state.internet);
    ImGui::SameLine();
    ImGui::BeginDisabled(!state.internet);
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x);
    ImGui::InputTextWithHint("##list", "List server, e.g. https://list.example.org", state.listServer.data(),
                             state.listServer.size());
    ImGui::EndDisabled();
    ImGui::EndDisabled();
    if (!view.onInternet) return;
    for (const InternetNews& standing : view.internetStanding) {
        if (standing.line.empty()) continue;
        ImGui::PushStyleColor(ImGuiCol_Text,
                              standing.trouble ? ErrorText : ImGui::GetStyleColorVec4(ImGuiCol_Text));
        ImGui::TextWrapped("%s", standing.line.c_str());
        ImGui::PopStyleColor();
    }
}

// Draws one frame of the window's contents; false when the player asked to close.
bool drawFrame(BrowserSession& session, WindowState& state) {
    const BrowserView view = browserView(session);
    const ImGuiIO& io = ImGui::GetIO();
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(io.DisplaySize);
    ImGui::Begin("##launcher", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::TextUnformatted("Games on this computer, the local networks and the Internet");
    ImGui::SameLine();
    ImGui::TextDisabled("  %s", countLine(view.list).c_str());
    drawFilter(session, view, state);
    drawListServers(session, view, state);
    const float line = ImGui::GetFrameHeightWithSpacing();
    const float messagesHeight = 5.0f * ImGui::GetTextLineHeightWithSpacing();
    // The router's and the lists' words take two lines each at most.
    const float standingHeight =
        view.onInternet ? 2.0f * float(view.internetStanding.size()) * ImGui::GetTextLineHeightWithSpacing()
                        : 0.0f;
    drawTable(session, view, state,
              std::max(line * 3.0f,
                       ImGui::GetContentRegionAvail().y - 3.5f * line - messagesHeight - standingHeight));

    // While a game runs or a typed name is looked up, nothing else can start: the controls say so.
    ImGui::BeginDisabled(!view.canJoinSelected);
    if (ImGui::Button("Join")) joinSelected(session);
    ImGui::EndDisabled();
    ImGui::SameLine();
    ImGui::BeginDisabled(view.busy || view.hosting);
    if (ImGui::Button("Practice")) startPractice(session);
    ImGui::SameLine();
    if (ImGui::Button("Host a game")) {
        hostGame(session, HostRequest{std::uint32_t(state.bots), state.name.data(), state.internet,
                                      state.listServer.data()});
    }
    ImGui::SameLine();
    ImGui::SetNextItemWidth(110.0f);
    ImGui::InputInt("simulated players", &state.bots);
    state.bots = std::clamp(state.bots, 0, int(MostBotsFromWindow));
    ImGui::EndDisabled();
    if (view.hostingLan) {
        ImGui::SameLine();
        ImGui::BeginDisabled(view.busy);
        if (ImGui::Button("Stop hosting")) stopHosting(session);
        ImGui::EndDisabled();
    }
    drawHosting(view, state);

    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - 130.0f - ImGui::GetFrameHeight());
    const bool typedEnter = ImGui::InputTextWithHint(
        "##address", "Address or computer name, e.g. 192.168.1.20", state.address.data(),
        state.address.size(), ImGuiInputTextFlags_EnterReturnsTrue);
    // The addresses joined before, the most recent first: one picked fills the field.
    ImGui::SameLine(0.0f, 0.0f);
    ImGui::BeginDisabled(view.remembered.empty());
    if (ImGui::BeginCombo("##recent", nullptr, ImGuiComboFlags_NoPreview | ImGuiComboFlags_PopupAlignLeft)) {
        for (std::size_t i = 0; i < view.remembered.size(); ++i) {
            const std::string& address = view.remembered[i];
            ImGui::PushID(static_cast<int>(i));
            const bool picked = ImGui::Selectable("##address");
            ImGui::PopID();
            ImGui::SameLine(0.0f, 0.0f);
            ImGui::TextUnformatted(address.c_str());
            if (picked) {
                const std::size_t length = std::min(address.size(), state.address.size() - 1);
                std::copy_n(address.begin(), length, state.address.begin());
                state.address[length] = '\0';
            }
        }
        ImGui::EndCombo();
    }
    ImGui::EndDisabled();
    ImGui::SameLine();
    ImGui::BeginDisabled(view.busy);
    if (ImGui::Button(view.lookingUp ? "Looking up..." : "Join address") || (typedEnter && !view.busy)) {
        joinTyped(session, state.address.data());
    }
    ImGui::EndDisabled();

    ImGui::BeginChild("messages", ImVec2(0.0f, 0.0f), true);
    if (view.messages.empty())
        ImGui::TextDisabled("What happens, and anything that goes wrong, is told here.");
    for (const BrowserMessage& message : view.messages) {
        if (message.error) ImGui::PushStyleColor(ImGuiCol_Text, ErrorText);
        ImGui::TextWrapped("%s", message.text.c_str());
        if (message.error) ImGui::PopStyleColor();
    }
    if (ImGui::GetScrollY() >= ImGui::GetScrollMaxY()) ImGui::SetScrollHereY(1.0f);
    ImGui::EndChild();

    // The keys act on the list unless text is being typed or the list servers' box is open.
    const bool listServersOpen = ImGui::IsPopupOpen("List servers");
    ImGui::End();
    std::vector<int> keys;
    keys.swap(state.keysPressed);
    for (const int key : io.WantTextInput || listServersOpen ? std::vector<int>{} : keys) {
        if (key == GLFW_KEY_ESCAPE) return false;
        if (key == GLFW_KEY_UP || key == GLFW_KEY_DOWN) {
            moveGameSelection(session, key == GLFW_KEY_UP ? -1 : 1);
            state.scrollToSelected = true;
        }
        if (key == GLFW_KEY_ENTER || key == GLFW_KEY_KP_ENTER) joinSelected(session);
    }
    return true;
}

void render(GLFWwindow* window) {
    ImGui::Render();
    int width = 0;
    int height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(0.1f, 0.1f, 0.12f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    glfwSwapBuffers(window);
}

void runFrames(GLFWwindow* window, BrowserSession& session, WindowState& state) {
    bool open = true;
    while (open && stopRequest() == 0 && !glfwWindowShouldClose(window)) {
        if (browserView(session).gameRunning) {
            // The window stays hidden until the game ends; then it comes back with the list asked again.
            if (stepBrowserSession(session, monotonicSeconds(), GameStepMilliseconds)) {
                glfwShowWindow(window);
                state.refocusUntil = monotonicSeconds() + RefocusSeconds;
            }
            glfwPollEvents();
            state.keysPressed.clear();  // what was typed at the game is not for the list
            state.pressedHere.clear();
            continue;
        }
        const double frameDue = monotonicSeconds() + IdleFrameSeconds;
        const std::size_t rowsBefore = browserView(session).list.rows.size();
        // A game that started (a typed name's join) or rows that came or went are worth a frame now.
        const auto changed = [&] {
            const BrowserView view = browserView(session);
            return view.gameRunning || view.list.rows.size() != rowsBefore;
        };
        state.inputSeen = false;
        do {
            glfwWaitEventsTimeout(SliceSeconds);
            stepBrowserSession(session, monotonicSeconds(), 0);
        } while (!state.inputSeen && !changed() && !glfwWindowShouldClose(window) && stopRequest() == 0 &&
                 monotonicSeconds() < frameDue);
        const double now = monotonicSeconds();
        if (now < state.refocusUntil && glfwGetWindowAttrib(window, GLFW_FOCUSED) != GLFW_TRUE)
            glfwFocusWindow(window);
        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplGlfw_NewFrame();
        ImGui::NewFrame();
        open = drawFrame(session, state);
        render(window);
        if (browserView(session).gameRunning) glfwHideWindow(window);
    }
}

}  // namespace

std::optional<int> runBrowserWindow(const ClientProgram& program, const std::vector<std::string>& listServers,
                                    std::string& error) {
    if (glfwInit() != GLFW_TRUE) {
        error = "cannot open a window: " + glfwProblem();
        return std::nullopt;
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    GLFWwindow* window = glfwCreateWindow(WindowWidth, WindowHeight, Title, nullptr, nullptr);
    if (window == nullptr) {
        error = "cannot open a window with OpenGL 3.3: " + glfwProblem();
        glfwTerminate();
        return std::nullopt;
    }
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;  // nothing written into the folder it was started from
    ImGui::StyleColorsDark();
    ImGui::GetStyle().FramePadding = ImVec2(8.0f, 4.0f);
    ImGui::GetStyle().CellPadding = ImVec2(8.0f, 3.0f);
    loadFont();
    WindowState state;
    glfwSetWindowUserPointer(window, &state);
    glfwSetKeyCallback(window, noteKey);
    glfwSetCursorPosCallback(window, noteCursor);
    glfwSetMouseButtonCallback(window, noteButton);
    glfwSetScrollCallback(window, noteScroll);
    glfwSetCharCallback(window, noteChar);
    glfwSetWindowFocusCallback(window, noteFocus);
    glfwSetFramebufferSizeCallback(window, noteResize);
    glfwSetWindowRefreshCallback(window, noteRefresh);
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL3_Init("#version 330 core");

    BrowserSession session;
    openBrowserSession(session, program, listServers);
    runFrames(window, session, state);
    // A game listed on the Internet is withdrawn from its lists as the session closes: the window is
    // gone meanwhile rather than frozen.
    glfwHideWindow(window);
    closeBrowserSession(session);

    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();
    glfwDestroyWindow(window);
    glfwTerminate();
    return 0;
}

}  // namespace brassmoor
