#include "search/log_lines.h"

#include <string_view>

#include "text/code_page.h"

namespace zerano {
namespace {

std::string gbk(std::string_view utf8) {
    return utf8_to_gbk_exact(utf8).value();
}

}  // namespace

const LogLines& log_lines() {
    static const LogLines lines{
        .running = gbk("开始运行...\r\n"),
        .rank_found = gbk("发现排名："),
        .going_on = gbk("名，继续...\r\n"),
        .no_canonical = gbk("转向错误，请联系作者修正！\r\n"),
        .no_token = gbk("搜索排名完毕！代码：001\r\n"),
        .finished = gbk("搜索完毕！以上就是关键字链接排名。\r\n"),
        .wrong_rank = gbk("如搜索排名有误，请回帖楼主修正。\r\n"),
        .credits = gbk("本排名程式，Kolvex免费出品。虽然木有技术含量！\r\n"),
        .network_error = gbk("网络错误："),
        .search_aborted = gbk("，搜索中止！\r\n"),
        .enter_first = gbk("请先输入在查询"),
        .message_caption = gbk("信息："),
    };
    return lines;
}

}  // namespace zerano
