// The job's own texts, in code page 936. Written here in UTF-8 and converted once.
#pragma once

#include <string>

namespace zerano {

struct LogLines {
    std::string running;       // "开始运行...\r\n"
    std::string rank_found;    // "发现排名：" + rank + going_on
    std::string going_on;      // "名，继续...\r\n"
    std::string no_canonical;  // "转向错误，请联系作者修正！\r\n"
    std::string no_token;      // "搜索排名完毕！代码：001\r\n"
    std::string finished;      // "搜索完毕！以上就是关键字链接排名。\r\n"
    std::string wrong_rank;    // "如搜索排名有误，请回帖楼主修正。\r\n"
    std::string credits;  // "本排名程式，Kolvex免费出品。虽然木有技术含量！\r\n"
    std::string network_error;    // "网络错误：" + reason + search_aborted
    std::string search_aborted;   // "，搜索中止！\r\n"
    std::string enter_first;      // the message box: "请先输入在查询"
    std::string message_caption;  // "信息："
};

const LogLines& log_lines();

}  // namespace zerano
